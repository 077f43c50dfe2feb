#pragma once
// A configuration for the upload tests: a copy of the demo project under a
// name of the test's choice, with an operations file the test writes, opened
// in a model; fake updaters; the terminal emulator as a child process.

#include "config/ConfigModel.h"
#include "tests/link/TerminalProcess.h"
#include "tests/support/SQLiteQuery.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>


// The names of the tables of a database, sorted.
QStringList TableNames(SQLite3::CSQLiteConnection& db);
// A table's rows as "a|b" texts in rowid order.
QStringList TableRows(SQLite3::CSQLiteConnection& db, const QString& table);

class UploadFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a copy of the demo project as `<dir>/<relativePath>`; its
    // operations file is `<folder>/files/<name>_opers.ux3`.
    void OpenProject(const QString& relativePath);
    QString OperationsFile() const;
    // Writes the operations file (text given in UTF-8, stored in Windows-1251).
    void WriteOperations(const QString& text);
    // The kx_ files in the temporary folder (the test's own, see SetUp).
    static QStringList KxTempFiles();

    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    CConfigModel model;
    QString projectPath;
    QString previousProgramFolder;
    QByteArray previousTmpDir;
    QByteArray previousRuntimeDir;
};

// A program folder with a shell-script updater that writes its arguments,
// one a line, to args.txt, copies the file it was given to received.db and
// ends with `exitCode`.
void WriteFakeUpdater(const QString& folder, int exitCode);
