#include "tests/cli/CliFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <csignal>
#include <stdlib.h>
#include <unistd.h>

namespace {

// Puts `name` of the build's program folder into `folder`: a hard link keeps
// the executable's own path in `folder` (so it finds its settings there).
bool Place(const QString& name, const QString& folder) {
    const QString from = ProgramBinFolder() + "/" + name;
    const QString to = folder + "/" + name;
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileInfo(from).permissions());
}

// The demo's directory files and its info table, nothing a run left there.
bool CopyDemoFiles(const QString& from, const QString& to) {
    QDir().mkpath(to);
    const QStringList patterns{"demo_*", "info.txt"};
    for (const QFileInfo& entry : QDir(from).entryInfoList(patterns, QDir::Files))
        if (!QFile::copy(entry.filePath(), to + "/" + entry.fileName())) return false;
    return true;
}

// The state letter of /proc/<pid>/stat ('T' stopped), 0 when it is gone.
char ProcessState(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() ? text[close + 2] : 0;
}

}  // namespace

QByteArray TerminalJournal(int count, int tag) {
    QRandomGenerator random(static_cast<quint32>(tag * 7919 + count));
    QString text;
    for (int i = 0; i < count; ++i) {
        QString barcode = QStringLiteral("46") + QString::number(random.bounded(1000000000, 2000000000)).mid(0, 10);
        int sum = 0;
        for (int d = 0; d < 12; ++d) sum += barcode[d].digitValue() * (d % 2 ? 3 : 1);
        barcode += QString::number((10 - sum % 10) % 10);
        text += QStringLiteral("%1;%2;%3;%4;%5;%6;Т%7;08.12.2026 %8:%9:%10;терминал %11\r\n")
                    .arg(barcode)
                    .arg(random.bounded(1, 50))
                    .arg(random.bounded(1, 4))
                    .arg(random.bounded(1, 6))
                    .arg(random.bounded(1, 9))
                    .arg(random.bounded(1, 20))
                    .arg(random.bounded(1, 99999), 5, 10, QLatin1Char('0'))
                    .arg(9 + i / 3600, 2, 10, QLatin1Char('0'))
                    .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(tag);
    }
    return Cp1251(text);
}

QByteArray Downloaded(const QByteArray& journal) {
    QByteArray out;
    int number = 0;
    for (const QByteArray& line : journal.split('\n')) {
        if (line.isEmpty()) continue;
        out += QByteArray::number(++number) + ';' + line + '\n';
    }
    return out;
}

QString ProgramBinFolder() { return QStringLiteral(KX_PROGRAM_DIR); }

bool WaitForLog(const QString& log, const QByteArray& line, int times, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (ReadFileBytes(log).count(line) >= times) return true;
        QThread::msleep(10);
    }
    return false;
}

CKxloaderRun::~CKxloaderRun() {
    if (m_process.state() != QProcess::NotRunning) Kill();
}

bool CKxloaderRun::Start(const QString& program, const QStringList& args, QProcessEnvironment environment) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    m_process.setProcessEnvironment(environment);
    m_process.start(program, args);
    return m_process.waitForStarted(30000);
}

bool CKxloaderRun::WaitStopped(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const char state = ProcessState(Pid());
        if (state == 'T' || state == 't') return true;
        if (state == 0 || state == 'Z' || m_process.state() == QProcess::NotRunning) return false;
        m_process.waitForFinished(5);  // also reads its output, so it never blocks on a full pipe
    }
    return false;
}

void CKxloaderRun::Kill() {
    ::kill(static_cast<pid_t>(Pid()), SIGKILL);
    Finish();
}

void CKxloaderRun::Continue() { ::kill(static_cast<pid_t>(Pid()), SIGCONT); }

int CKxloaderRun::Finish(int timeoutMs) {
    const bool finished = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    m_out += QString::fromUtf8(m_process.readAllStandardOutput());
    m_err += QString::fromUtf8(m_process.readAllStandardError());
    if (!finished) {
        m_process.kill();
        m_process.waitForFinished();
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void Cli::SetUp() {
    EnsureQtApplication();
    program = dir.File("bin");
    project = dir.File("project/demo.kxc");
    state = dir.File("state");
    ASSERT_TRUE(QDir().mkpath(program));
    ASSERT_TRUE(QDir().mkpath(state));
    for (const char* name : {"kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"})
        ASSERT_TRUE(Place(name, program)) << name;
    if (QFile::exists(ProgramBinFolder() + "/parlink.ini")) {
        ASSERT_TRUE(Place("parlink.ini", program));
    }
    ASSERT_TRUE(QDir().mkpath(dir.File("project")));
    ASSERT_TRUE(QFile::copy(ProgramBinFolder() + "/demo/demo.kxc", project));
    ASSERT_TRUE(CopyDemoFiles(ProgramBinFolder() + "/demo/files", dir.File("project/files")));
    ASSERT_TRUE(WriteFileBytes(state + "/journal.txt", Cp1251(
        "4603393792901;12;1;1;1;1;Т00001;08.12.2026 09:14:03;\r\n"
        "4602587617372;6;3;2;1;1;Т00002;08.12.2026 09:14:41;\r\n"
        "4608804827692;10;3;1;2;1;Т00003;08.12.2026 09:15:22;\r\n"
        "4603393792901;24;1;2;2;2;Т00001;08.12.2026 09:31:10;партия\r\n")));
}

void Cli::WriteSettings(const QString& port, const QString& config, int overwrite) {
    ASSERT_TRUE(WriteFileBytes(program + "/kxloader.ini",
                               QStringLiteral("[kxloader.exe]\nport=%1\nconfig=%2\nOverwriteJournal=%3\n")
                                   .arg(port, config)
                                   .arg(overwrite)
                                   .toUtf8()));
}

QProcessEnvironment Cli::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No session folder: the runs' temporary files go to "kxconfig-<uid>"
    // in TMPDIR, where a test finds them.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"}) env.remove(name);
    if (!tempFolder.isEmpty()) env.insert("TMPDIR", tempFolder);
    return env;
}

int Cli::Run(const QStringList& args, int stderrTerminal) {
    QProcess process;
    process.setProcessEnvironment(Environment());
    if (stderrTerminal >= 0) process.setStandardErrorFile(QString::fromLocal8Bit(ptsname(stderrTerminal)));
    QByteArray shown;
    const auto drain = [&] {
        char buffer[4096];
        ssize_t got;
        while (stderrTerminal >= 0 && (got = ::read(stderrTerminal, buffer, sizeof buffer)) > 0)
            shown.append(buffer, got);
    };
    if (!inputFile.isEmpty()) process.setStandardInputFile(inputFile);
    process.start(program + "/kxloader", args);
    if (inputFile.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
    bool finished = false;
    for (int waited = 0; !finished && waited < 60000; waited += 50) {
        finished = process.waitForFinished(50);
        drain();
    }
    if (!finished) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    drain();
    out = QString::fromUtf8(process.readAllStandardOutput());
    err = QString::fromUtf8(stderrTerminal >= 0 ? shown : process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int Cli::RunProgram(const QString& programPath, const QStringList& args, const QProcessEnvironment& environment) {
    CKxloaderRun run;
    if (!run.Start(programPath, args, environment)) return -1;
    const int code = run.Finish();
    out = run.Out();
    err = run.Err();
    return code;
}

QStringList Cli::Commands() const {
    return QString::fromUtf8(ReadFileBytes(state + "/commands.log").mid(commandsMark)).split('\n', Qt::SkipEmptyParts);
}

void Cli::MarkCommands() { commandsMark = ReadFileBytes(state + "/commands.log").size(); }

QStringList Cli::Received() const { return QDir(state + "/directories").entryList(QDir::Files); }

void Cli::Scenario(const QString& text) {
    ASSERT_TRUE(WriteFileBytes(state + "/scenario.ini", ("[scenario]\n" + text).toUtf8()));
}
