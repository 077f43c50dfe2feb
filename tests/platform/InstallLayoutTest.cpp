// The user's files of the installed layout: the template copied once, kept
// while the shipped one stays the same, replaced (the old copy kept beside it,
// said once) after an upgrade brings another; failures name the folder and
// the system's reason.

#include "platform/InstallLayout.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// Writes a file of the test's tree, making its folders.
bool Put(const CTestDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.File(name);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && WriteFileBytes(path, bytes);
}

class UserTemplate : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Put(dir, "usr/share/kxconfig/KXConfigFMT.db", "template 1"));
        layout.mode = InstallMode::Installed;
        layout.shippedTemplate = dir.File("usr/share/kxconfig/KXConfigFMT.db");
        layout.userConfigFolder = dir.File("home/.config/kxconfig/");
        layout.userDataFolder = dir.File("home/.local/share/kxconfig/");
        layout.templateFile = layout.userDataFolder + "KXConfigFMT.db";
    }
    // One start-up: the notice it gives (empty when none).
    QString Start() {
        QString error, notice;
        EXPECT_TRUE(layout.PrepareUserFiles(&error, &notice)) << error.toStdString();
        return notice;
    }
    QByteArray Copy() const { return ReadFileBytes(layout.templateFile); }
    QByteArray Old() const { return ReadFileBytes(layout.templateFile + ".old"); }

    CTestDir dir;
    CInstallLayout layout;
};

TEST_F(UserTemplate, IsCopiedOnceKeptWhileTheShippedOneStaysAndReplacedOnceAfterAnUpgrade) {
    EXPECT_EQ(Start(), "");
    EXPECT_EQ(Copy(), "template 1");
    EXPECT_TRUE(QDir(layout.userConfigFolder).exists());

    // The program rewrites its copy; the same shipped template keeps it.
    ASSERT_TRUE(WriteFileBytes(layout.templateFile, "template 1, rewritten"));
    EXPECT_EQ(Start(), "");
    EXPECT_EQ(Copy(), "template 1, rewritten");

    // A package upgrade brings another template: taken, the old copy beside it, said once.
    ASSERT_TRUE(WriteFileBytes(layout.shippedTemplate, "template 2"));
    const QString notice = Start();
    EXPECT_EQ(notice, "шаблон конфигурации обновлен из " + layout.shippedTemplate + "; прежняя копия сохранена как " +
                          layout.templateFile + ".old");
    EXPECT_EQ(Copy(), "template 2");
    EXPECT_EQ(Old(), "template 1, rewritten");
    ASSERT_TRUE(WriteFileBytes(layout.templateFile, "template 2, rewritten"));
    EXPECT_EQ(Start(), "");
    EXPECT_EQ(Copy(), "template 2, rewritten");
    EXPECT_EQ(Old(), "template 1, rewritten");
}

TEST_F(UserTemplate, ACopyWithoutItsRecordIsReplacedUnlessItIsTheShippedOneUntouched) {
    // Made by an older version of the program, which kept no record.
    ASSERT_TRUE(Put(dir, "home/.local/share/kxconfig/KXConfigFMT.db", "template 0, rewritten"));
    EXPECT_FALSE(Start().isEmpty());
    EXPECT_EQ(Copy(), "template 1");
    EXPECT_EQ(Old(), "template 0, rewritten");

    // A run that ended between the copy and its record: the untouched copy is kept, nothing said.
    ASSERT_TRUE(QFile::remove(layout.templateFile + ".old"));
    ASSERT_TRUE(QFile::remove(layout.templateFile + ".source"));
    EXPECT_EQ(Start(), "");
    EXPECT_EQ(Copy(), "template 1");
    EXPECT_FALSE(QFile::exists(layout.templateFile + ".old"));
    ASSERT_TRUE(WriteFileBytes(layout.templateFile, "template 1, rewritten"));
    EXPECT_EQ(Start(), "");
    EXPECT_EQ(Copy(), "template 1, rewritten");
}

TEST_F(UserTemplate, AFolderThatCannotBeMadeIsNamedWithTheSystemsReason) {
    // A file where the data folder's parent should be: no user, root included, may make it.
    ASSERT_TRUE(Put(dir, "home/.local", "not a folder"));
    QString error;
    EXPECT_FALSE(layout.PrepareUserFiles(&error));
    EXPECT_EQ(error, "не удалось создать папку " + layout.userDataFolder + ": Not a directory");
    EXPECT_FALSE(QFile::exists(layout.templateFile));
}

TEST_F(UserTemplate, ACopyThatCannotBeWrittenNamesTheFolderAndTheReason) {
    // A folder in the place of the copy's temporary name: the copy cannot be written.
    ASSERT_TRUE(QDir().mkpath(layout.templateFile + ".part/x"));
    QString error;
    EXPECT_FALSE(layout.PrepareUserFiles(&error));
    EXPECT_TRUE(error.startsWith("не удалось скопировать шаблон " + layout.shippedTemplate + " в папку " +
                                 layout.userDataFolder + ": "))
        << error.toStdString();
    EXPECT_GT(error.size(), error.indexOf(layout.userDataFolder + ": ") + layout.userDataFolder.size() + 2);
    EXPECT_FALSE(QFile::exists(layout.templateFile));
}

TEST(InstallLayoutPortable, KeepsEverythingBesideTheProgramAndPreparesNothing) {
    CTestDir dir;
    ASSERT_TRUE(Put(dir, "bin/kxloader.ini", "[kxloader.exe]\n"));
    const CInstallLayout layout = CInstallLayout::Resolve(dir.File("bin"), QProcessEnvironment());
    EXPECT_EQ(layout.mode, InstallMode::Portable);
    QString notice;
    EXPECT_TRUE(layout.PrepareUserFiles(nullptr, &notice));
    EXPECT_TRUE(notice.isEmpty());
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"bin"}));
}

}  // namespace
