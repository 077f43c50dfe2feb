// The files a user keeps, written so that a kill at any instant, another
// writer or a folder that takes no new files never leaves them torn; the
// temporary files of killed processes; file names that are not UTF-8. Kills
// happen in a child process stopped at a kill point (KX_TEST_PAUSE_AT): the
// parent sees it stopped (waitpid) and kills it there.

#include "filesafety/FileLock.h"
#include "filesafety/InPlaceChange.h"
#include "filesafety/TargetWriter.h"
#include "filesafety/TempFiles.h"
#include "platform/LocalFileName.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What a journal file holds: lines with EAN-13 barcodes, CR LF.
QByteArray JournalLines(int first, int count) {
    QByteArray text;
    for (int i = first; i < first + count; ++i)
        text += QByteArray::number(i) + ";46" + QByteArray::number(1000000000 + i * 7919LL).right(10) + "7;" +
                QByteArray::number(i % 40 + 1) + ";3;1;2;1;\xD2" "000" + QByteArray::number(i % 90 + 10) +
                ";08.12.2026 09:14:03;\r\n";
    return text;
}

bool Commit(const QString& target, const QByteArray& bytes, CTargetWriter::Mode mode, int waitMs = 0,
            CTargetWriter* keep = nullptr) {
    CTargetWriter local;
    CTargetWriter& writer = keep ? *keep : local;
    return writer.Open(target) && writer.Write(bytes) && writer.Commit(mode, waitMs);
}

// The files a writer keeps beside a target while it writes.
QStringList Beside(const QString& folder) {
    return QDir(folder).entryList({".*.kxtmp", "*.lock"}, QDir::Files | QDir::Hidden);
}

// In a child: root's capabilities go, so folder permissions apply to it as
// to anyone (a folder without write permission takes no new files).
void LikeAnyUser() {
    if (geteuid() != 0) return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0) _exit(99);
}

// Runs `body` in a child process; its exit code (0: all held), -1 when it
// did not end normally.
int InChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `body` in a child process that stops itself at the kill point `point`,
// and kills it there. False when it ended without reaching the point.
bool KillAt(const char* point, const std::function<void()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("KX_TEST_PAUSE_AT", point, 1);
        body();
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status)) return false;
    ::kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return true;
}

// A folder that takes no new files, with a target in it that may be written,
// and a temporary folder of the test's own.
class InPlace : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.File("files");
        target = folder + "/journal.txt";
        temporary = dir.File("tmp");
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QDir().mkpath(temporary));
        ASSERT_TRUE(WriteFileBytes(target, old));
        ASSERT_TRUE(QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOther | QFile::WriteGroup));
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        // This user's temporary files go to "kxconfig-<uid>" in here.
        qputenv("TMPDIR", temporary.toLocal8Bit());
        runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
    }
    void TearDown() override {
        qunsetenv("TMPDIR");
        if (!runtime.isEmpty()) qputenv("XDG_RUNTIME_DIR", runtime);
        QFile::setPermissions(folder, QFile::permissions(folder) | QFile::WriteOwner);
    }

    CTestDir dir;
    QString folder, target, temporary;
    QByteArray runtime;
    const QByteArray old = JournalLines(1, 800);
    const QByteArray fresh = JournalLines(801, 1200);
};

TEST(TargetWriter, ReplacesAndAppendsWholeKeepingPermissionsAndLeavesNothingBeside) {
    CTestDir dir;
    const QString target = dir.File("journal.txt");
    ASSERT_TRUE(WriteFileBytes(target, JournalLines(1, 3)));
    ASSERT_TRUE(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                  QFile::WriteGroup));
    const QFile::Permissions permissions = QFile::permissions(target);
    ASSERT_TRUE(Commit(target, JournalLines(4, 2), CTargetWriter::Mode::Replace));
    EXPECT_EQ(ReadFileBytes(target), JournalLines(4, 2));
    ASSERT_TRUE(Commit(target, JournalLines(6, 2), CTargetWriter::Mode::Append));
    EXPECT_EQ(ReadFileBytes(target), JournalLines(4, 4));
    EXPECT_EQ(QFile::permissions(target), permissions);
    EXPECT_EQ(Beside(dir.Path()), QStringList());

    // A link keeps pointing where it did; its file gets the bytes.
    ASSERT_TRUE(QFile::link(target, dir.File("link.txt")));
    ASSERT_TRUE(Commit(dir.File("link.txt"), JournalLines(8, 2), CTargetWriter::Mode::Append));
    EXPECT_TRUE(QFileInfo(dir.File("link.txt")).isSymLink());
    EXPECT_EQ(ReadFileBytes(target), JournalLines(4, 6));

    // Pieces of every size, lines and blocks mixed, as a download writes
    // them: the file has exactly them, in order.
    QByteArray pieces;
    {
        CTargetWriter writer;
        ASSERT_TRUE(writer.Open(target));
        QRandomGenerator random(20261210);
        for (const qsizetype size : {1, 60, 65535, 1, 65536, 65537, 2, 300000, 0, 70, 64 * 1024 - 70, 5}) {
            for (int repeat = 0; repeat < 3; ++repeat) {
                QByteArray piece(size, Qt::Uninitialized);
                for (char& c : piece) c = static_cast<char>('a' + random.bounded(26));
                ASSERT_TRUE(writer.Write(piece.constData(), piece.size()));
                pieces += piece;
            }
        }
        ASSERT_TRUE(writer.Commit(CTargetWriter::Mode::Replace, 0));
    }
    EXPECT_TRUE(ReadFileBytes(target) == pieces) << ReadFileBytes(target).size() << " bytes of " << pieces.size();

    // No regular file: written to as it stands. A folder: refused by name.
    EXPECT_TRUE(Commit("/dev/null", "x", CTargetWriter::Mode::Replace));
    EXPECT_TRUE(QFileInfo("/dev/null").exists());
    CTargetWriter writer;
    EXPECT_FALSE(writer.Open(dir.Path()));
    EXPECT_EQ(writer.Error(), dir.Path() + ": it is a folder");
}

TEST(TargetWriter, AKillAtAnyPointLeavesTheOldBytesAndTheNextWriterClearsUp) {
    CTestDir dir;
    const QString target = dir.File("journal.txt");
    const QByteArray old = JournalLines(1, 2000);
    const QByteArray fresh = JournalLines(2001, 3000);
    struct Case {
        const char* point;
        CTargetWriter::Mode mode;
    };
    for (const Case& c : {Case{"append:half", CTargetWriter::Mode::Append},
                          Case{"append:built", CTargetWriter::Mode::Append},
                          Case{"replace:built", CTargetWriter::Mode::Replace},
                          Case{"commit:locked", CTargetWriter::Mode::Append}}) {
        SCOPED_TRACE(c.point);
        ASSERT_TRUE(WriteFileBytes(target, old));
        ASSERT_TRUE(KillAt(c.point, [&] { Commit(target, fresh, c.mode); }));
        EXPECT_EQ(ReadFileBytes(target), old);
        EXPECT_NE(Beside(dir.Path()), QStringList());  // what the killed writer left
        ASSERT_TRUE(Commit(target, fresh, c.mode));
        EXPECT_EQ(ReadFileBytes(target), c.mode == CTargetWriter::Mode::Append ? old + fresh : fresh);
        EXPECT_EQ(Beside(dir.Path()), QStringList());
    }
}

TEST(TargetWriter, AnotherWriterIsWaitedForAndNamedWhenItKeepsTheFile) {
    CTestDir dir;
    const QString target = dir.File("journal.txt");
    ASSERT_TRUE(WriteFileBytes(target, JournalLines(1, 5)));
    SetLockHolderDescription("settings /srv/term1.ini, port /dev/ttyUSB0");
    const pid_t child = fork();
    if (child == 0) {
        setenv("KX_TEST_PAUSE_AT", "commit:locked", 1);
        _exit(Commit(target, JournalLines(100, 5), CTargetWriter::Mode::Replace) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));

    CTargetWriter second;
    EXPECT_FALSE(Commit(target, JournalLines(200, 5), CTargetWriter::Mode::Replace, 300, &second));
    EXPECT_TRUE(second.Busy());
    EXPECT_EQ(second.ErrorPath(), target);
    EXPECT_TRUE(second.ErrorReason().startsWith(QStringLiteral("it is being written by kxloader process %1: settings "
                                                               "/srv/term1.ini, port /dev/ttyUSB0, since ")
                                                    .arg(child)))
        << second.ErrorReason().toStdString();
    EXPECT_TRUE(second.ErrorReason().endsWith("; waited 1 s")) << second.ErrorReason().toStdString();
    EXPECT_EQ(ReadFileBytes(target), JournalLines(1, 5));
    EXPECT_EQ(second.Abandon(dir.File("kept.txt")), dir.File("kept.txt"));
    EXPECT_EQ(ReadFileBytes(dir.File("kept.txt")), JournalLines(200, 5));

    // The holder goes on and finishes; the one that waits long enough follows.
    ::kill(child, SIGCONT);
    CTargetWriter third;
    EXPECT_TRUE(Commit(target, JournalLines(300, 5), CTargetWriter::Mode::Append, 30000, &third))
        << third.Error().toStdString();
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(target), JournalLines(100, 5) + JournalLines(300, 5));
    SetLockHolderDescription(QString());
}

TEST_F(InPlace, AFolderThatTakesNoNewFilesIsWrittenInPlace) {
    EXPECT_EQ(InChild([&] {
                  LikeAnyUser();
                  if (!Commit(target, fresh, CTargetWriter::Mode::Replace) || ReadFileBytes(target) != fresh) return 1;
                  if (!Commit(target, old, CTargetWriter::Mode::Append) || ReadFileBytes(target) != fresh + old) return 2;
                  return QDir(folder).entryList(QDir::Files | QDir::Hidden) == QStringList{"journal.txt"} ? 0 : 3;
              }),
              0);
    EXPECT_EQ(QDir(KxTempFolderPath()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(InPlace, AKillInTheMiddleIsPutBackAtTheNextStartOrByTheNextWriter) {
    // Killed halfway through replacing: the old bytes come back from their
    // copy when the next start clears the killed run's files.
    ASSERT_TRUE(KillAt("replace:half", [&] {
        LikeAnyUser();
        Commit(target, fresh, CTargetWriter::Mode::Replace);
    }));
    EXPECT_NE(ReadFileBytes(target), old);  // torn until then
    EXPECT_EQ(RemoveStaleKxTempFiles(), 1);
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(QDir(KxTempFolderPath()).entryList(QDir::Files | QDir::Hidden), QStringList());

    // Killed halfway through appending: the next writer of the file cuts it
    // back first, so the retry adds the new lines once.
    ASSERT_TRUE(KillAt("append:half", [&] {
        LikeAnyUser();
        Commit(target, fresh, CTargetWriter::Mode::Append);
    }));
    EXPECT_EQ(InChild([&] {
                  LikeAnyUser();
                  return Commit(target, fresh, CTargetWriter::Mode::Append) ? 0 : 1;
              }),
              0);
    EXPECT_EQ(ReadFileBytes(target), old + fresh);
}

TEST(TempFiles, TheFilesOfProcessesThatNoLongerRunGoAndALiveOnesStay) {
    CTestDir dir;
    const QString mine = CreateKxTempFile(dir.Path());
    ASSERT_FALSE(mine.isEmpty());
    // A child that ends without releasing its files, as a killed run does.
    EXPECT_EQ(InChild([&] {
                  const QString left = CreateKxTempFile(dir.Path());
                  return !left.isEmpty() && WriteFileBytes(left + "-journal", "x") ? 0 : 1;
              }),
              0);
    // A file of another program with our prefix but no owner lock.
    ASSERT_TRUE(WriteFileBytes(dir.File("kx_other.tmp"), "someone else's"));
    EXPECT_EQ(QDir(dir.Path()).entryList({"kx_*.tmp"}, QDir::Files).size(), 3);

    EXPECT_EQ(RemoveStaleKxTempFiles(dir.Path()), 1);
    QStringList left = QDir(dir.Path()).entryList({"kx_*"}, QDir::Files);
    left.sort();
    QStringList expected{QFileInfo(mine).completeBaseName() + ".lock", QFileInfo(mine).fileName(), "kx_other.tmp"};
    expected.sort();
    EXPECT_EQ(left, expected);
    ReleaseKxTempFile(mine);
    EXPECT_EQ(QDir(dir.Path()).entryList({"kx_*"}, QDir::Files), QStringList({"kx_other.tmp"}));
}

TEST(LocalFileName, BytesThatAreNoUtf8SurviveAndEveryOtherNameStaysAsItIs) {
    const QList<QByteArray> names{
        "\xE6\xF3\xF0\xED\xE0\xEB.txt",   // Windows-1251 "журнал.txt"
        "журнал.txt",                      // UTF-8
        "\xF0\x9F\x93\xA6 box",            // a character beyond U+FFFF
        "\xC0\xAF overlong",               // an overlong "/" is no character
        "\xED\xA0\x80 surrogate",          // an encoded surrogate is none either
        "cut \xE2\x82",                     // a sequence cut short
        "plain.txt",
    };
    for (const QByteArray& bytes : names) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        const QString name = DecodeLocalName(bytes);
        EXPECT_FALSE(name.contains(QChar(0xFFFD)));
        bool usable = false;
        EXPECT_EQ(EncodeLocalName(name, &usable), bytes);
        EXPECT_TRUE(usable);
    }
    EXPECT_EQ(DecodeLocalName("журнал.txt"), QStringLiteral("журнал.txt"));
    EXPECT_FALSE(HasRawBytes(DecodeLocalName("журнал.txt")));
    EXPECT_EQ(PrintableLocalName(DecodeLocalName("\xE6\xF3.txt")), "\\xE6\\xF3.txt");
    // A text no system name can be made of.
    EXPECT_FALSE(IsUsableLocalName(QString(QChar(0xD800)) + "x"));
    EXPECT_FALSE(IsUsableLocalName(QString(QChar(0))));
}

}  // namespace
