#include "platform/ConsolePrompt.h"

#include "platform/LocalFileName.h"

int CConsolePrompt::Message(const QString& text, const QString& caption, PromptIcon icon,
                               PromptButtons buttons) {
    FILE* stream = (icon == PromptIcon::Information || icon == PromptIcon::None) ? m_out : m_err;
    QByteArray bytes;
    if (!caption.isEmpty()) bytes += caption.toUtf8() + ": ";
    // A file name with bytes that are not UTF-8 is shown with them as \xHH.
    bytes += PrintableLocalName(text).toUtf8();
    if (!bytes.endsWith('\n')) bytes += '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
    switch (buttons) {
    case PromptButtons::Ok: return AnswerOk;
    case PromptButtons::OkCancel: return AnswerCancel;
    case PromptButtons::YesNo:
    case PromptButtons::YesNoDefaultNo: return AnswerNo;
    case PromptButtons::YesNoCancel:
    case PromptButtons::YesNoCancelDefaultCancel: return AnswerCancel;
    }
    return AnswerCancel;
}

void CConsolePrompt::OpenInViewer(const QString& path) {
    const QByteArray line = "Файл отчета: " + PrintableLocalName(path).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_out);
    std::fflush(m_out);
}
