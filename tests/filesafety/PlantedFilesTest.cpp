// Files another local user plants where this program looks (a shared sticky
// temporary folder, a files folder): records of in-place changes, links and
// FIFOs named like our lock and staging files, links to journals. None of
// them makes the program write a file it was not asked to, and none makes it
// wait. Other users are played by chown to uid 65534 (the tests run as root,
// which passes every permission check, so ownership is what is tested).

#include "filesafety/FileLock.h"
#include "filesafety/InPlaceChange.h"
#include "filesafety/TargetWriter.h"
#include "filesafety/TempFiles.h"
#include "platform/Prompt.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs `body` in a child that is killed after `seconds` (a wait on a FIFO
// would otherwise hold the test for ever): its exit code, -1 when it was
// killed or did not end normally.
int WithinSeconds(int seconds, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(static_cast<unsigned>(seconds));
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool Replace(const QString& target, const QByteArray& bytes, QString* error = nullptr) {
    CTargetWriter writer;
    const bool done = writer.Open(target) && writer.Write(bytes) && writer.Commit(CTargetWriter::Mode::Replace, 0);
    if (error) *error = writer.Error();
    return done;
}

// A shared temporary folder (1777) as TMPDIR, no session folder, and a file
// of this user that a planted record would change.
class PlantedRecords : public ::testing::Test {
protected:
    void SetUp() override {
        shared = dir.File("tmp");
        ASSERT_TRUE(QDir().mkpath(shared));
        ASSERT_EQ(::chmod(LocalName(shared).constData(), 01777), 0);
        victim = dir.File("victim.txt");
        ASSERT_TRUE(WriteFileBytes(victim, precious));
        runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", LocalName(shared));
    }
    void TearDown() override {
        qunsetenv("TMPDIR");
        if (!runtime.isEmpty()) qputenv("XDG_RUNTIME_DIR", runtime);
    }

    // The files a killed run leaves for a change of the victim: the owner
    // lock, the copy of the old bytes (here the attacker's) and the record.
    QString Plant(const QString& folder, const QString& id) {
        const QString base = folder + "/kx_" + id;
        struct stat status {};
        EXPECT_EQ(::stat(LocalName(victim).constData(), &status), 0);
        EXPECT_TRUE(WriteFileBytes(base + ".lock", ""));
        EXPECT_TRUE(WriteFileBytes(base + ".old", attacker));
        QString error;
        EXPECT_TRUE(WriteUndoRecord(base + ".undo",
                                    {victim, status.st_dev, status.st_ino, attacker.size(), base + ".old"}, &error))
            << qPrintable(error);
        return base;
    }

    CTestDir dir;
    QString shared, victim;
    QByteArray runtime;
    const QByteArray precious = "the user's own bytes, which nobody else may choose\n";
    const QByteArray attacker = "ATTACKER";
};

TEST_F(PlantedRecords, OnlyARecordOfThisUserInTheirOwnFolderAboutTheirSameFileIsApplied) {
    ASSERT_EQ(KxTempFolderPath(), shared + QStringLiteral("/kxconfig-%1").arg(geteuid()));

    // Straight in the shared folder, where every user's files used to be: not
    // looked at.
    Plant(shared, "AAAAAA");
    EXPECT_EQ(RemoveStaleKxTempFiles(), 0);
    EXPECT_EQ(ReadFileBytes(victim), precious);

    // Our folder's name made first by another user: neither used nor cleared.
    const QString mine = KxTempFolderPath();
    ASSERT_TRUE(QDir().mkdir(mine));
    ASSERT_EQ(::chmod(LocalName(mine).constData(), 0700), 0);
    Plant(mine, "BBBBBB");
    ASSERT_EQ(::chown(LocalName(mine).constData(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(RemoveStaleKxTempFiles(), 0);
    EXPECT_TRUE(CreateKxTempFile().isEmpty());
    QString problem;
    EXPECT_FALSE(PrepareKxTempFolder(mine, &problem));
    EXPECT_TRUE(problem.contains("belongs to another user")) << qPrintable(problem);
    // Ours, but open to others, or a link to a folder of ours: the same.
    ASSERT_EQ(::chown(LocalName(mine).constData(), geteuid(), getegid()), 0);
    ASSERT_EQ(::chmod(LocalName(mine).constData(), 0733), 0);
    EXPECT_EQ(RemoveStaleKxTempFiles(), 0);
    ASSERT_EQ(::chmod(LocalName(mine).constData(), 0700), 0);
    ASSERT_TRUE(QFile::rename(mine, dir.File("elsewhere")));
    ASSERT_EQ(::symlink(LocalName(dir.File("elsewhere")).constData(), LocalName(mine).constData()), 0);
    EXPECT_EQ(RemoveStaleKxTempFiles(), 0);
    EXPECT_TRUE(CreateKxTempFile().isEmpty());
    EXPECT_EQ(ReadFileBytes(victim), precious);
    ASSERT_TRUE(QFile::remove(mine));
    ASSERT_TRUE(QDir(dir.File("elsewhere")).removeRecursively());

    // Our own folder, made as it must be.
    ASSERT_TRUE(PrepareKxTempFolder(mine, &problem)) << qPrintable(problem);
    EXPECT_EQ(ModeOf(mine), 0700u);
    // A record others could have written, one of another user, or a link
    // to a record: not read.
    const QString open = Plant(mine, "CCCCCC");
    ASSERT_EQ(::chmod(LocalName(open + ".undo").constData(), 0644), 0);
    const QString foreign = Plant(mine, "DDDDDD");
    ASSERT_EQ(::chown(LocalName(foreign + ".undo").constData(), kOtherUser, kOtherUser), 0);
    const QString linked = Plant(mine, "EEEEEE");
    ASSERT_TRUE(QFile::rename(linked + ".undo", dir.File("record")));
    ASSERT_EQ(::symlink(LocalName(dir.File("record")).constData(), LocalName(linked + ".undo").constData()), 0);
    InPlaceUndo read;
    EXPECT_FALSE(ReadUndoRecord(open + ".undo", &read));
    EXPECT_FALSE(ReadUndoRecord(foreign + ".undo", &read));
    EXPECT_FALSE(ReadUndoRecord(linked + ".undo", &read));
    EXPECT_EQ(RemoveStaleKxTempFiles(), 3);  // cleared as left-overs, none applied
    EXPECT_EQ(ReadFileBytes(victim), precious);

    // A sound record about a file now another user's, or about a file that
    // has since been replaced by another one of the same name: not applied.
    Plant(mine, "FFFFFF");
    ASSERT_EQ(::chown(LocalName(victim).constData(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(RemoveStaleKxTempFiles(), 1);
    EXPECT_EQ(ReadFileBytes(victim), precious);
    ASSERT_EQ(::chown(LocalName(victim).constData(), geteuid(), getegid()), 0);
    Plant(mine, "GGGGGG");
    // (made while the old one still lives, so it cannot get its inode)
    ASSERT_TRUE(WriteFileBytes(dir.File("new"), precious));
    ASSERT_EQ(::rename(LocalName(dir.File("new")).constData(), LocalName(victim).constData()), 0);
    EXPECT_EQ(RemoveStaleKxTempFiles(), 1);
    EXPECT_EQ(ReadFileBytes(victim), precious);

    // What all of this guards: a record of ours about our same file is put
    // back (here the planted copy's bytes, which shows it was applied).
    Plant(mine, "HHHHHH");
    EXPECT_EQ(RemoveStaleKxTempFiles(), 1);
    EXPECT_EQ(ReadFileBytes(victim), attacker);
    EXPECT_EQ(QDir(mine).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A files folder with a journal in it, and a file elsewhere that a planted
// lock file or link would have us write.
class PlantedLinks : public ::testing::Test {
protected:
    void SetUp() override {
        files = dir.File("files");
        ASSERT_TRUE(QDir().mkpath(files));
        ASSERT_EQ(::chmod(LocalName(files).constData(), 0755), 0);
        journal = files + "/journal.txt";
        ASSERT_TRUE(WriteFileBytes(journal, "old journal\r\n"));
        victim = dir.File("etc-file");
        ASSERT_TRUE(WriteFileBytes(victim, precious));
        previousMask = ::umask(022);
    }
    void TearDown() override { ::umask(previousMask); }

    CTestDir dir;
    QString files, journal, victim;
    mode_t previousMask = 0;
    const QByteArray precious = "root:x:0:0:root:/root:/bin/bash\n";
};

TEST_F(PlantedLinks, ALockFileIsNeverFollowedNorCutUnlessItIsOursAlone) {
    // A link named like the journal's lock file: refused, nothing written
    // through it, the journal as it was.
    ASSERT_EQ(::symlink(LocalName(victim).constData(), LocalName(journal + ".lock").constData()), 0);
    QString error;
    EXPECT_FALSE(Replace(journal, "new journal\r\n", &error));
    EXPECT_TRUE(error.contains("journal.txt.lock: it is a link")) << qPrintable(error);
    EXPECT_EQ(ReadFileBytes(victim), precious);
    EXPECT_EQ(ReadFileBytes(journal), "old journal\r\n");
    ASSERT_TRUE(QFile::remove(journal + ".lock"));

    // A FIFO in its place: refused at once, not waited on.
    ASSERT_EQ(::mkfifo(LocalName(journal + ".lock").constData(), 0666), 0);
    EXPECT_EQ(WithinSeconds(10, [&] { return Replace(journal, "new journal\r\n") ? 1 : 0; }), 0);
    ASSERT_TRUE(QFile::remove(journal + ".lock"));

    // Made by us: 0600 whatever the umask, and the holder line in it.
    {
        CFileLock lock;
        ASSERT_EQ(lock.LockFile(journal + ".lock", 0), CFileLock::Outcome::Locked) << qPrintable(lock.Error());
        EXPECT_EQ(ModeOf(journal + ".lock"), 0600u);
        EXPECT_TRUE(lock.SetContent("holder\n"));
        EXPECT_EQ(ReadFileBytes(journal + ".lock"), "holder\n");
        lock.Unlock(true);
    }
    // Another user's lock file, or one with a second name (a hard link to
    // the victim): locked, but its bytes are left alone.
    ASSERT_TRUE(WriteFileBytes(journal + ".lock", "their holder\n"));
    ASSERT_EQ(::chown(LocalName(journal + ".lock").constData(), kOtherUser, kOtherUser), 0);
    {
        CFileLock lock;
        ASSERT_EQ(lock.LockFile(journal + ".lock", 0), CFileLock::Outcome::Locked);
        EXPECT_FALSE(lock.SetContent("holder\n"));
    }
    EXPECT_EQ(ReadFileBytes(journal + ".lock"), "their holder\n");
    ASSERT_TRUE(QFile::remove(journal + ".lock"));
    ASSERT_EQ(::link(LocalName(victim).constData(), LocalName(journal + ".lock").constData()), 0);
    EXPECT_TRUE(Replace(journal, "new journal\r\n"));
    EXPECT_EQ(ReadFileBytes(victim), precious);
    EXPECT_EQ(ReadFileBytes(journal), "new journal\r\n");
}

TEST_F(PlantedLinks, AJournalLinkIsFollowedOnlyWhenItIsTheUsersOwnInAFolderOnlyTheyWrite) {
    // The user's own link to a journal on a share: written there, the link
    // stays a link, the staging file lies beside the real file.
    const QString share = dir.File("share");
    ASSERT_TRUE(QDir().mkpath(share));
    ASSERT_TRUE(WriteFileBytes(share + "/journal.txt", "shared journal\r\n"));
    ASSERT_TRUE(QFile::remove(journal));
    ASSERT_EQ(::symlink("../share/journal.txt", LocalName(journal).constData()), 0);
    {
        CTargetWriter writer;
        ASSERT_TRUE(writer.Open(journal)) << qPrintable(writer.Error());
        EXPECT_EQ(QDir(share).entryList({".journal.txt.*.kxtmp"}, QDir::Files | QDir::Hidden).size(), 1);
        EXPECT_EQ(QDir(files).entryList({".journal.txt.*.kxtmp"}, QDir::Files | QDir::Hidden).size(), 0);
        ASSERT_TRUE(writer.Write("new lines\r\n") && writer.Commit(CTargetWriter::Mode::Replace, 0));
    }
    EXPECT_EQ(ReadFileBytes(share + "/journal.txt"), "new lines\r\n");
    EXPECT_TRUE(QFileInfo(journal).isSymLink());

    // A link of another user to a file of root's choosing, the user's own
    // link in a folder others can write to, and the user's link to another
    // user's link: each refused, naming the link, the file untouched.
    ASSERT_TRUE(QFile::remove(journal));
    ASSERT_EQ(::symlink(LocalName(victim).constData(), LocalName(journal).constData()), 0);
    ASSERT_EQ(::lchown(LocalName(journal).constData(), kOtherUser, kOtherUser), 0);
    QString error;
    EXPECT_FALSE(Replace(journal, "planted\r\n", &error));
    EXPECT_TRUE(error.contains(journal + ": it is a link of another user")) << qPrintable(error);

    ASSERT_EQ(::lchown(LocalName(journal).constData(), geteuid(), getegid()), 0);
    ASSERT_EQ(::chmod(LocalName(files).constData(), 0777), 0);
    EXPECT_FALSE(Replace(journal, "planted\r\n", &error));
    EXPECT_TRUE(error.contains("a folder others can write to")) << qPrintable(error);
    ASSERT_EQ(::chmod(LocalName(files).constData(), 0755), 0);

    const QString hop = dir.File("their-link");
    ASSERT_EQ(::symlink(LocalName(victim).constData(), LocalName(hop).constData()), 0);
    ASSERT_EQ(::lchown(LocalName(hop).constData(), kOtherUser, kOtherUser), 0);
    ASSERT_TRUE(QFile::remove(journal));
    ASSERT_EQ(::symlink(LocalName(hop).constData(), LocalName(journal).constData()), 0);
    EXPECT_FALSE(Replace(journal, "planted\r\n", &error));
    EXPECT_TRUE(error.contains("it is a link of another user (" + hop)) << qPrintable(error);
    EXPECT_EQ(ReadFileBytes(victim), precious);
    EXPECT_EQ(QDir(dir.Path()).entryList({".etc-file.*"}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(PlantedLinks, AFifoNamedLikeAStagingFileOrAsTheTargetIsNeverWaitedOn) {
    const QString fifo = files + "/.journal.txt.AAAAAA.kxtmp";
    ASSERT_EQ(::mkfifo(LocalName(fifo).constData(), 0666), 0);
    const QString pipe = files + "/report.txt";
    ASSERT_EQ(::mkfifo(LocalName(pipe).constData(), 0666), 0);
    EXPECT_EQ(WithinSeconds(10, [&] {
                  CRecordingPrompt prompt;
                  CScopedPrompt scope(prompt);
                  // The clean-up names the FIFO, leaves it, and the journal
                  // is written.
                  if (!Replace(journal, "new journal\r\n") || ReadFileBytes(journal) != "new journal\r\n") return 1;
                  if (prompt.Texts().size() != 1 || !prompt.Texts()[0].contains(fifo + ": it is no regular file"))
                      return 2;
                  // A pipe as the target that nobody reads: refused at once.
                  QString error;
                  if (Replace(pipe, "report\r\n", &error) || !error.contains("a pipe nobody reads")) return 3;
                  return 0;
              }),
              0);
    struct stat status {};
    ASSERT_EQ(::lstat(LocalName(fifo).constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

}  // namespace
