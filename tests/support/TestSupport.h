#pragma once
// Test doubles of the platform layers, shared by every test program.

#include "platform/Clock.h"
#include "platform/Prompt.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

// Keeps every message, dialog request and viewer call, and answers from a
// script: queued answers first, then `defaultAnswer` (or AnswerOk for boxes
// with only an OK button).
class CRecordingPrompt : public IPrompt {
public:
    struct Entry {
        QString text;
        QString caption;
        PromptIcon icon = PromptIcon::None;
        PromptButtons buttons = PromptButtons::Ok;
    };

    int Message(const QString& text, const QString& caption, PromptIcon icon,
                PromptButtons buttons) override;
    QString OpenFileName(const FileDialogRequest& request) override;
    QString SaveFileName(const FileDialogRequest& request) override;
    void OpenInViewer(const QString& path) override;

    void QueueAnswer(int answer) { m_answers << answer; }
    void QueueFileName(const QString& name) { m_fileNames << name; }

    QList<Entry> Messages() const;
    QStringList Texts() const;  // the texts of the messages in order
    QList<FileDialogRequest> FileRequests() const;
    QStringList ViewerPaths() const;
    void Clear();

    int defaultAnswer = AnswerNo;

private:
    mutable std::mutex m_lock;
    QList<Entry> m_messages;
    QList<int> m_answers;
    QStringList m_fileNames;
    QList<FileDialogRequest> m_fileRequests;
    QStringList m_viewerPaths;
};

// Time that only moves when someone sleeps: waits of minutes run at once.
class CFakeClock : public IClock {
public:
    std::int64_t NowMs() override { return m_now.load(); }
    void SleepMs(int ms) override {
        ++m_sleeps;
        if (ms > 0) m_now += ms;
    }
    void Advance(std::int64_t ms) { m_now += ms; }
    int Sleeps() const { return m_sleeps.load(); }
    std::int64_t Elapsed() const { return m_now.load() - kStart; }

private:
    static constexpr std::int64_t kStart = 1'000'000;
    std::atomic<std::int64_t> m_now{kStart};
    std::atomic<int> m_sleeps{0};
};

// A temporary folder for one test, removed with everything in it.
class CTestDir {
public:
    CTestDir();
    QString Path() const { return m_dir.path(); }
    QString File(const QString& name) const { return m_dir.filePath(name); }
    bool Write(const QString& name, const QByteArray& bytes) const;
    QByteArray Read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Reads a whole file, empty when it cannot be read.
QByteArray ReadFileBytes(const QString& path);
bool WriteFileBytes(const QString& path, const QByteArray& bytes);
// Windows-1251 bytes of a UTF-8 literal, for expected file contents.
QByteArray Cp1251(const QString& text);

// Planted files: a user other than the one running the tests (nobody), a
// path as the system spells it, and the permission bits of a path itself
// (a link's own, not its target's; 0 when nothing is there).
inline constexpr unsigned kOtherUser = 65534;
inline QByteArray LocalName(const QString& path) { return QFile::encodeName(path); }
unsigned ModeOf(const QString& path);

// The recorded `message` is `text` under `caption` with `icon` (its buttons
// are left to the caller); a failure names what was shown instead.
::testing::AssertionResult IsMessage(const CRecordingPrompt::Entry& message, const QString& text,
                                     const QString& caption, PromptIcon icon);
