#include "tests/cfgupload/CfgUploadSupport.h"

#include "directories/DirectoryFiles.h"
#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

void EnsureQtApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "cfgupload_tests";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

QStringList TableNames(SQLite3::CSQLiteConnection& db) {
    return Rows(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
}

QStringList TableRows(SQLite3::CSQLiteConnection& db, const QString& table) {
    return Rows(db, QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table));
}

void UploadFixture::SetUp() {
    EnsureQtApplication();
    previousProgramFolder = ProgramFolder();
    // A temporary folder of the test's own: the kx_ files it finds there are
    // its own, whatever runs beside it.
    previousTmpDir = qgetenv("TMPDIR");
    QDir().mkpath(dir.File(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(dir.File(QStringLiteral("tmp"))));
}

void UploadFixture::TearDown() {
    model.Close();
    SetProjectPath(QString());
    SetProgramFolder(previousProgramFolder);
    if (previousTmpDir.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previousTmpDir);
}

void UploadFixture::OpenProject(const QString& relativePath) {
    projectPath = dir.File(relativePath);
    QDir().mkpath(QFileInfo(projectPath).absolutePath());
    ASSERT_TRUE(QFile::copy(QStringLiteral(KX_PROGRAM_DIR "/demo/demo.kxc"), projectPath));
    QFile::setPermissions(projectPath, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(model.Open(projectPath));
    SetProjectPath(projectPath);
    QDir().mkpath(QFileInfo(OperationsFile()).absolutePath());
}

QString UploadFixture::OperationsFile() const {
    QString file;
    DirectoryPath(Operations, &file);
    return file;
}

void UploadFixture::WriteOperations(const QString& text) {
    ASSERT_TRUE(WriteFileBytes(OperationsFile(), Cp1251(text)));
}

QStringList UploadFixture::KxTempFiles() {
    // Each file's owner lock ("kx_XXXXXX.lock") comes and goes with it.
    QStringList files = QDir(QDir::tempPath()).entryList({QStringLiteral("kx_*")}, QDir::Files, QDir::Name);
    files.removeIf([](const QString& name) { return name.endsWith(QLatin1String(".lock")); });
    return files;
}

void WriteFakeUpdater(const QString& folder, int exitCode) {
    const QString script = QDir(folder).filePath(QStringLiteral("kxupdate_pc"));
    const QByteArray text = "#!/bin/sh\n"
                            "here=$(dirname \"$0\")\n"
                            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$here/args.txt\"\n"
                            "[ -f \"$4\" ] && cp \"$4\" \"$here/received.db\"\n"
                            "exit " +
                            QByteArray::number(exitCode) + "\n";
    ASSERT_TRUE(WriteFileBytes(script, text));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

CTerminalEmulator::~CTerminalEmulator() { Stop(); }

bool CTerminalEmulator::Start(const QString& stateDir) {
    EnsureQtApplication();
    m_process.setProgram(QStringLiteral(KX_PROGRAM_DIR "/kxterminal"));
    m_process.setArguments({QStringLiteral("--state"), stateDir, QStringLiteral("--pty")});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(30000)) return false;
    QByteArray out;
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        const qsizetype end = out.indexOf('\n');
        if (end >= 0) {
            const QString line = QString::fromLocal8Bit(out.left(end)).trimmed();
            out.remove(0, end + 1);
            if (line.startsWith(QLatin1String("port: "))) {
                m_port = line.mid(6);
                return true;
            }
            continue;
        }
        if (m_process.state() == QProcess::NotRunning) return false;
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
    }
    return false;
}

void CTerminalEmulator::Stop() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}
