#include "tests/support/TestSupport.h"

#include "platform/CodePage.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

int CRecordingPrompt::Message(const QString& text, const QString& caption, PromptIcon icon,
                              PromptButtons buttons) {
    std::lock_guard guard(m_lock);
    m_messages.append({text, caption, icon, buttons});
    if (!m_answers.isEmpty()) return m_answers.takeFirst();
    return buttons == PromptButtons::Ok ? AnswerOk : defaultAnswer;
}

QString CRecordingPrompt::OpenFileName(const FileDialogRequest& request) {
    std::lock_guard guard(m_lock);
    m_fileRequests.append(request);
    return m_fileNames.isEmpty() ? QString() : m_fileNames.takeFirst();
}

QString CRecordingPrompt::SaveFileName(const FileDialogRequest& request) {
    return OpenFileName(request);
}

void CRecordingPrompt::OpenInViewer(const QString& path) {
    std::lock_guard guard(m_lock);
    m_viewerPaths.append(path);
}

QList<CRecordingPrompt::Entry> CRecordingPrompt::Messages() const {
    std::lock_guard guard(m_lock);
    return m_messages;
}

QStringList CRecordingPrompt::Texts() const {
    std::lock_guard guard(m_lock);
    QStringList texts;
    for (const Entry& e : m_messages) texts << e.text;
    return texts;
}

QList<FileDialogRequest> CRecordingPrompt::FileRequests() const {
    std::lock_guard guard(m_lock);
    return m_fileRequests;
}

QStringList CRecordingPrompt::ViewerPaths() const {
    std::lock_guard guard(m_lock);
    return m_viewerPaths;
}

void CRecordingPrompt::Clear() {
    std::lock_guard guard(m_lock);
    m_messages.clear();
    m_answers.clear();
    m_fileNames.clear();
    m_fileRequests.clear();
    m_viewerPaths.clear();
}

CTestDir::CTestDir() { m_dir.setAutoRemove(true); }

bool CTestDir::Write(const QString& name, const QByteArray& bytes) const {
    return WriteFileBytes(File(name), bytes);
}

QByteArray CTestDir::Read(const QString& name) const { return ReadFileBytes(File(name)); }

QByteArray ReadFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

QByteArray Cp1251(const QString& text) { return CodePage::ToWindows1251(text); }

::testing::AssertionResult IsMessage(const CRecordingPrompt::Entry& message, const QString& text,
                                     const QString& caption, PromptIcon icon) {
    if (message.text == text && message.caption == caption && message.icon == icon)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "shown: \"" << message.text.toStdString() << "\" under \"" << message.caption.toStdString()
           << "\" with icon " << static_cast<int>(message.icon) << "\nwanted: \"" << text.toStdString()
           << "\" under \"" << caption.toStdString() << "\" with icon " << static_cast<int>(icon);
}

unsigned ModeOf(const QString& path) {
    struct stat status {};
    return ::lstat(LocalName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}
