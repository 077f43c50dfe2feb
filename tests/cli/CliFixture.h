#pragma once
// The command line as a warehouse system uses it: the real kxloader in its own
// program folder (settings, template, link component), the demo project, and
// kxterminal on a pseudo-terminal. No display is set for these runs.

#include "tests/link/TerminalProcess.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// The build's program folder.
QString ProgramBinFolder();

// Waits until the emulator's log `log` holds `line` (`times` times).
bool WaitForLog(const QString& log, const QByteArray& line, int times = 1, int timeoutMs = 60000);

// `count` journal lines of a terminal (Windows-1251, CR LF), shaped like a
// warehouse's: EAN-13 barcodes, quantities, operation/executor/address/document
// ids, a ware code and a time; `tag` makes the lines of one terminal its own.
QByteArray TerminalJournal(int count, int tag);
// What /j writes of a terminal's `journal`: the demo project has the journal
// ids on, so every line begins with its record number.
QByteArray Downloaded(const QByteArray& journal);

// One kxloader run started in the background, for the cases that look at it
// while it runs: stopped at a kill point (KX_TEST_PAUSE_AT, platform/TestHooks.h),
// killed by its process id, or let go on.
class CKxloaderRun {
public:
    CKxloaderRun() = default;
    ~CKxloaderRun();
    CKxloaderRun(const CKxloaderRun&) = delete;
    CKxloaderRun& operator=(const CKxloaderRun&) = delete;

    // `program` with `args`, in `environment` (without a display).
    bool Start(const QString& program, const QStringList& args, QProcessEnvironment environment);
    qint64 Pid() const { return m_process.processId(); }
    // Waits until the run stopped itself at its kill point; false when it
    // ended instead, or did neither within `timeoutMs`.
    bool WaitStopped(int timeoutMs = 60000);
    void Kill();      // SIGKILL, then waits for the end
    void Continue();  // SIGCONT
    // Waits for the end: the exit code, -1 when it did not end or was killed.
    int Finish(int timeoutMs = 60000);
    QString Out() const { return m_out; }
    QString Err() const { return m_err; }

private:
    QProcess m_process;
    QString m_out, m_err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override;

    void StartTerminal() { ASSERT_TRUE(terminal.Start(state)) << terminal.Diagnostics().toStdString(); }
    void WriteSettings(const QString& port, const QString& config, int overwrite = 1);
    void UseTerminal() {
        StartTerminal();
        WriteSettings(terminal.Port(), project);
    }
    // The environment of every run: no display.
    QProcessEnvironment Environment() const;

    // Runs kxloader with `args`; the exit code, -1 when it did not end.
    // With `stderrTerminal` (the master side of a pseudo-terminal) standard
    // error goes to that terminal and `err` holds what it showed.
    int Run(const QStringList& args, int stderrTerminal = -1);
    // Runs `program` with `args` in `environment` to its end; fills out/err.
    int RunProgram(const QString& programPath, const QStringList& args, const QProcessEnvironment& environment);

    QString Files(const QString& name) const { return dir.File("project/files/" + name); }
    QByteArray Report() const { return ReadFileBytes(Files("errors.txt")); }
    // The commands the terminal logged since the last MarkCommands().
    QStringList Commands() const;
    void MarkCommands();
    QStringList Received() const;
    void Scenario(const QString& text);

    CTestDir dir;
    QString program, project, state;
    CTerminalProcess terminal;
    QString out, err;
    QString tempFolder;  // TMPDIR of the runs when set
    // What the runs read on standard input (then its end); or, when
    // `inputFile` is set, that file (a terminal's device) instead.
    QByteArray input;
    QString inputFile;
    qsizetype commandsMark = 0;
};
