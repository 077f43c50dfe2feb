#include "tests/cfgupload/CfgUploadSupport.h"

#include "directories/DirectoryFiles.h"
#include "platform/ProgramFolder.h"
#include "filesafety/TempFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    // (This user's folder in it, not the session's.)
    previousTmpDir = qgetenv("TMPDIR");
    previousRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
    QDir().mkpath(dir.File(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(dir.File(QStringLiteral("tmp"))));
    qunsetenv("XDG_RUNTIME_DIR");
}

void UploadFixture::TearDown() {
    model.Close();
    SetProjectPath(QString());
    SetProgramFolder(previousProgramFolder);
    if (previousTmpDir.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previousTmpDir);
    if (!previousRuntimeDir.isNull()) qputenv("XDG_RUNTIME_DIR", previousRuntimeDir);
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
    QStringList files = QDir(KxTempFolderPath()).entryList({QStringLiteral("kx_*")}, QDir::Files, QDir::Name);
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
