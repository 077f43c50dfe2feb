// Where a project's directory files are, and what each kind looks like.

#include "directories/DirectoryFiles.h"
#include "directories/DirectoryKind.h"

#include <gtest/gtest.h>

namespace {

class DirectoryFilesTest : public ::testing::Test {
protected:
    void TearDown() override { SetProjectPath(QString()); }
};

TEST_F(DirectoryFilesTest, NinePathsOfAProjectLieInItsFilesFolder) {
    SetProjectPath(QStringLiteral("C:\\data\\shop.kxc"));
    const DirectoryFiles f = CurrentDirectoryFiles();
    EXPECT_EQ(f.projectPath, QStringLiteral("C:\\data\\shop.kxc"));
    EXPECT_EQ(f.filesFolder, QStringLiteral("C:/data/files/"));
    EXPECT_EQ(f.directories[Operations], QStringLiteral("C:/data/files/shop_opers.ux3"));
    EXPECT_EQ(f.directories[Executors], QStringLiteral("C:/data/files/shop_authors.ux4"));
    EXPECT_EQ(f.directories[Addresses], QStringLiteral("C:/data/files/shop_address.ux5"));
    EXPECT_EQ(f.directories[Documents], QStringLiteral("C:/data/files/shop_ndocs.ux6"));
    EXPECT_EQ(f.directories[Wares], QStringLiteral("C:/data/files/shop_wares.ux7"));
    EXPECT_EQ(f.directories[WareDetails], QStringLiteral("C:/data/files/shop_waresl2.ux8"));
    EXPECT_EQ(f.directories[DocumentPlan], QStringLiteral("C:/data/files/shop_ndocsplan.ux9"));
    EXPECT_EQ(f.journalFile, QStringLiteral("C:/data/files/shop_journal.txt"));
    EXPECT_EQ(f.infoFile, QStringLiteral("C:/data/files/info.txt"));

    SetProjectPath(QStringLiteral("/home/op/cfg/my.shop.kxc"));
    QString path;
    ASSERT_TRUE(DirectoryPath(Wares, &path));
    EXPECT_EQ(path, QStringLiteral("/home/op/cfg/files/my.shop_wares.ux7"));
}

TEST_F(DirectoryFilesTest, PathsAreEmptyWithoutAProjectAndOnlyKindsZeroToSixHaveOne) {
    SetProjectPath(QString());
    QString path = QStringLiteral("x");
    EXPECT_TRUE(DirectoryPath(Operations, &path));
    EXPECT_TRUE(path.isEmpty());
    EXPECT_TRUE(CurrentDirectoryFiles().journalFile.isEmpty());

    SetProjectPath(QStringLiteral("/p/shop.kxc"));
    for (int kind : {-1, 7, 8, 9, 10, 11}) {
        path = QStringLiteral("x");
        EXPECT_FALSE(DirectoryPath(kind, &path)) << kind;
        EXPECT_TRUE(path.isEmpty()) << kind;
    }
}

// What each kind's row says, pinned where files on disk, the terminal or the
// editor's users depend on it.
TEST(DirectoryKindTest, FilesNumberingAndNumericColumnsOfEveryKind) {
    const QStringList suffixes = {"_opers.ux3",  "_authors.ux4", "_address.ux5",  "_ndocs.ux6",
                                  "_wares.ux7",  "_waresl2.ux8", "_ndocsplan.ux9"};
    ASSERT_EQ(kDirectoryKindCount, suffixes.size());
    for (int kind = 0; kind < kDirectoryKindCount; ++kind) {
        EXPECT_EQ(DirectorySuffix(kind), suffixes[kind]) << kind;
        EXPECT_EQ(QString::fromLatin1(kDirectoryKinds[kind].upload.command),
                  QStringLiteral("1%1").arg(kind + 1) + QLatin1Char('1')) << kind;
        // Operations, executors, addresses and documents number their rows.
        EXPECT_EQ(IsNumberedKind(kind), kind <= Documents) << kind;
    }
    EXPECT_FALSE(IsNumberedKind(JournalView));
    EXPECT_FALSE(IsNumberedKind(7));

    // The in-place editor right-aligns the numeric columns only: the plan's
    // "Номер п/п" is shown on the right but typed like text.
    const QList<QList<int>> numeric = {{1, 4, 6}, {1}, {1}, {1}, {4}, {3}, {1, 3}};
    for (int kind = 0; kind < kDirectoryKindCount; ++kind)
        for (int column = 0; column <= 8; ++column)
            EXPECT_EQ(IsNumericColumn(kind, column), numeric[kind].contains(column)) << kind << " " << column;
    for (int column = 0; column <= 10; ++column) EXPECT_FALSE(IsNumericColumn(JournalView, column));
    EXPECT_EQ(DirectoryColumns(DocumentPlan)[3].align, ColumnAlign::Right);
}

TEST(DirectoryKindTest, CaptionsSuffixesAndColumnSets) {
    EXPECT_EQ(DirectoryCaption(Operations), QStringLiteral("Справочник операций"));
    EXPECT_EQ(DirectoryCaption(Wares), QStringLiteral("Справочник товаров (шапка)"));
    EXPECT_EQ(DirectoryCaption(DocumentPlan), QStringLiteral("Справочник документов (детали)"));
    EXPECT_EQ(DirectoryCaption(JournalView), QStringLiteral("Журнал (просмотр)"));
    EXPECT_TRUE(DirectoryCaption(7).isEmpty());
    EXPECT_EQ(DirectorySuffix(JournalView), QStringLiteral("_journal.txt"));
    EXPECT_TRUE(DirectorySuffix(8).isEmpty());

    const auto ops = DirectoryColumns(Operations);
    ASSERT_EQ(ops.size(), 6);
    EXPECT_EQ(ops[3].title, QStringLiteral("Множитель"));
    EXPECT_EQ(ops[0].align, ColumnAlign::Right);
    EXPECT_EQ(ops[0].Width(948), 100);  // 948 / 9.475, truncated
    EXPECT_EQ(ops[5].Width(948), 120);  // fixed
    EXPECT_EQ(DirectoryColumns(Executors).size(), 3);
    EXPECT_EQ(DirectoryColumns(Documents).size(), 4);
    EXPECT_EQ(DirectoryColumns(Wares).size(), 4);
    EXPECT_EQ(DirectoryColumns(WareDetails).size(), 4);
    EXPECT_EQ(DirectoryColumns(DocumentPlan).size(), 5);

    const auto journal = DirectoryColumns(JournalView, false);
    ASSERT_EQ(journal.size(), 9);
    EXPECT_EQ(journal[0].title, QStringLiteral("Штрихкод"));
    EXPECT_DOUBLE_EQ(journal[0].widthDivisor, 6.3);
    const auto withId = DirectoryColumns(JournalView, true);
    ASSERT_EQ(withId.size(), 10);
    EXPECT_EQ(withId[0].title, QStringLiteral("id"));
    EXPECT_DOUBLE_EQ(withId[1].widthDivisor, 6.0);
    EXPECT_EQ(withId[9].title, QStringLiteral("Спец. поле"));

    const DirectoryColumn extra = ExtraFieldColumn(4);
    EXPECT_EQ(extra.title, QStringLiteral("Поле #4"));
    EXPECT_EQ(extra.Width(5000), 100);
}

}  // namespace
