// Files that are not directory files: each gives the loader's own outcome
// (an empty table, the damage message, false), never a crash, and the file on
// disk is never changed by reading it.

#include "directories/DirectorySummary.h"
#include "directories/DirectoryTable.h"

#include "FakeOperationTypes.h"
#include "filesafety/TempFiles.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kDamaged = QStringLiteral("Ошибка!\nФайл поврежден или содержит неправильные данные!");

struct BadFile {
    const char* name;
    QByteArray bytes;
    bool loads;  // what the loader makes of it
    int rows;
};

template <size_t N>
QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);  // NUL bytes included
}

QByteArray RandomBytes(int size) {
    QRandomGenerator rng(1251);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes) c = char(rng.bounded(256));
    return bytes;
}

TEST(DirectoryBadInputTest, DamagedFilesEmptyTheTableAndStayUntouched) {
    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scoped(prompt);
    QByteArray crOnly;
    for (int i = 0; i < 200; ++i) crOnly += "1;name;barcode\r";
    const BadFile files[] = {
        {"random", RandomBytes(64 * 1024), false, 0},
        {"nul-in-line", Bytes("1;a;b\r\n2;x\0;y;z\r\n"), false, 0},
        {"nul-after-fields", Bytes("1;a;b\0junk\r\n2;c;d\r\n"), true, 2},
        {"all-nul", QByteArray(5000, '\0'), false, 0},
        {"cr-only", crOnly, true, 3},  // one physical line: three reads
        {"line-100k", "1;a;" + QByteArray(100 * 1024, 'z') + "\r\n", false, 0},
        {"empty", QByteArray(), true, 0},
        {"separators-only", QByteArray(3000, ';'), true, 3},
    };
    for (const BadFile& f : files) {
        prompt.Clear();
        const QString path = dir.File(QString::fromLatin1(f.name));
        ASSERT_TRUE(WriteFileBytes(path, f.bytes));
        for (int kind : {0, 1, 2, 3, 4, 5, 6, int(JournalView)}) {
            DirectoryTable table(kind, &types);
            EXPECT_EQ(LoadDirectoryFile(table, path, true), f.loads) << f.name << " " << kind;
            EXPECT_EQ(table.RowCount(), f.rows) << f.name << " " << kind;
            if (!f.loads) {
                EXPECT_EQ(prompt.Texts().value(0), kDamaged) << f.name;
            }
        }
        EXPECT_EQ(ReadFileBytes(path), f.bytes) << f.name;
        DirectorySummary summary;
        summary.path = path;
        EXPECT_GE(summary.CountLines(), 0);
        EXPECT_LE(summary.lineCount, 1000);
        EXPECT_EQ(ReadFileBytes(path), f.bytes) << f.name;
    }
}

TEST(DirectoryBadInputTest, MissingFilesAndFoldersLoadEmptyWithoutAMessage) {
    CTestDir dir;
    CFakeOperationTypes types;
    CRecordingPrompt prompt;
    CScopedPrompt scoped(prompt);
    DirectoryTable table(Executors, &types);
    table.AppendRow({QStringLiteral("1"), QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_FALSE(LoadDirectoryFile(table, dir.File("missing.ux4"), true));
    EXPECT_EQ(table.RowCount(), 0);
    EXPECT_FALSE(LoadDirectoryFile(table, dir.Path(), true));
    EXPECT_FALSE(LoadDirectoryFile(table, QString(), true));
    EXPECT_TRUE(prompt.Texts().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.File("missing.ux4")));

    DirectorySummary summary;
    summary.path = dir.Path();
    EXPECT_EQ(summary.CountLines(), 0);
    summary.path = dir.File("missing.ux4");
    EXPECT_EQ(summary.CountLines(), 0);
}

TEST(DirectoryBadInputTest, ASaveThatCannotCreateItsFileChangesNothing) {
    CTestDir dir;
    CFakeOperationTypes types;
    const QByteArray before = "1;a;b\r\n";
    WriteFileBytes(dir.File("plain"), before);
    DirectoryTable table(Executors, &types);
    table.AppendRow({QStringLiteral("2"), QStringLiteral("c"), QStringLiteral("d")});
    table.modified = true;
    // The folder of the target is a regular file.
    EXPECT_FALSE(SaveDirectoryFile(table, dir.File("plain/x.ux4")));
    EXPECT_TRUE(table.modified);
    EXPECT_EQ(ReadFileBytes(dir.File("plain")), before);
}

// Runs `save` as a user to whom folder permissions apply. Root ignores them,
// so under root the save runs in a child process as "nobody".
template <typename Save>
bool SaveWithoutRootRights(Save save) {
    if (geteuid() != 0) return save();
    const pid_t child = fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
        _exit(save() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DirectoryBadInputTest, AWritableFileInAFolderThatTakesNoNewFilesIsSavedInPlace) {
    CTestDir dir;
    CFakeOperationTypes types;
    const QString folder = dir.File("files");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/shop_authors.ux4";
    ASSERT_TRUE(WriteFileBytes(path, "1;a;111\r\n"));
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, path, true));
    table.SetCell(0, 2, QStringLiteral("Иванов"));

    ASSERT_EQ(chmod(QFile::encodeName(dir.Path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0666), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const bool saved = SaveWithoutRootRights([&] { return SaveDirectoryFile(table, path); });
    chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_TRUE(saved);
    EXPECT_EQ(ReadFileBytes(path), Cp1251(QStringLiteral("1;Иванов;111\r\n")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"shop_authors.ux4"});
}

TEST(DirectoryBadInputTest, AnInPlaceSaveKilledHalfwayIsPutBackAtTheNextStart) {
    CTestDir dir;
    CFakeOperationTypes types;
    const QString folder = dir.File("files");
    const QString temporary = dir.File("tmp");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QDir().mkpath(temporary));
    const QString path = folder + "/shop_authors.ux4";
    QByteArray before;
    for (int i = 1; i <= 3000; ++i) before += QByteArray::number(i) + ";Executor " + QByteArray::number(i) + ";11\r\n";
    ASSERT_TRUE(WriteFileBytes(path, before));
    DirectoryTable table(Executors, &types);
    ASSERT_TRUE(LoadDirectoryFile(table, path, true));
    for (int row = 0; row < 3000; ++row) table.SetCell(row, 2, QStringLiteral("Исполнитель"));

    ASSERT_EQ(chmod(QFile::encodeName(dir.Path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(temporary).constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0666), 0);
    // The user whose file it is saves it (a kill's record is put back only
    // into a file of the user who left it).
    constexpr uid_t kUser = 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(QFile::encodeName(path).constData(), kUser, kUser), 0);
    }
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    // The save stops itself halfway through writing the file in place and is
    // killed there, as a user's kill -9 or a crash would end it.
    const pid_t child = fork();
    if (child == 0) {
        setenv("KX_TEST_PAUSE_AT", "replace:half", 1);
        setenv("TMPDIR", QFile::encodeName(temporary).constData(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        if (geteuid() == 0 && (setgid(kUser) != 0 || setuid(kUser) != 0)) _exit(3);
        SaveDirectoryFile(table, path);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_NE(ReadFileBytes(path), before);  // torn until the next start
    // The next start of that user's program.
    const pid_t next = fork();
    if (next == 0) {
        setenv("TMPDIR", QFile::encodeName(temporary).constData(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        if (geteuid() == 0 && (setgid(kUser) != 0 || setuid(kUser) != 0)) _exit(3);
        _exit(RemoveStaleKxTempFiles() == 1 ? 0 : 1);
    }
    ASSERT_EQ(waitpid(next, &status, 0), next);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(path), before);
}

}  // namespace
