#include "ui/QtPrompt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QUrl>

namespace {

template <typename F>
auto OnUiThread(F f) -> decltype(f()) {
    if (!qApp || QThread::currentThread() == qApp->thread()) return f();
    decltype(f()) result{};
    QMetaObject::invokeMethod(qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

QMessageBox::Icon ToQtIcon(PromptIcon icon) {
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(PromptButtons buttons) {
    switch (buttons) {
    case PromptButtons::Ok: return QMessageBox::Ok;
    case PromptButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case PromptButtons::YesNo:
    case PromptButtons::YesNoDefaultNo: return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::YesNoCancel:
    case PromptButtons::YesNoCancelDefaultCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

int FromQtButton(int button) {
    switch (button) {
    case QMessageBox::Ok: return AnswerOk;
    case QMessageBox::Yes: return AnswerYes;
    case QMessageBox::No: return AnswerNo;
    default: return AnswerCancel;
    }
}

}  // namespace

QString ToQtFilter(const QString& filter) {
    if (!filter.contains(QLatin1Char('|'))) return filter;
    const QStringList parts = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        if (!name.contains(QLatin1Char('('))) name += QStringLiteral(" (%1)").arg(parts[i + 1]);
        entries << name;
    }
    return entries.join(QLatin1String(";;"));
}

int CQtPrompt::Message(const QString& text, const QString& caption, PromptIcon icon,
                       PromptButtons buttons) {
    return OnUiThread([&] {
        QMessageBox box(ToQtIcon(icon), caption, text, ToQtButtons(buttons));
        if (buttons == PromptButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
        if (buttons == PromptButtons::YesNoCancelDefaultCancel) box.setDefaultButton(QMessageBox::Cancel);
        return FromQtButton(box.exec());
    });
}

QString CQtPrompt::OpenFileName(const FileDialogRequest& request) {
    return OnUiThread([&] {
        return QFileDialog::getOpenFileName(nullptr, request.title, request.initialName,
                                            ToQtFilter(request.filter));
    });
}

QString CQtPrompt::SaveFileName(const FileDialogRequest& request) {
    return OnUiThread([&] {
        QFileDialog dialog(nullptr, request.title, request.initialName, ToQtFilter(request.filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(request.defaultExt);
        if (!request.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    });
}

void CQtPrompt::OpenInViewer(const QString& path) {
    OnUiThread([&] { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
}
