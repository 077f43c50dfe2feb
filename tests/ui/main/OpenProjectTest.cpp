// "Установить" in the main window on a file that is no project: the reason in
// words, the project that was open stays open, nothing is created beside the file.

#include "directories/DirectoryFiles.h"
#include "tests/ui/main/UiFixture.h"
#include "ui/main/DirsDlg.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

TEST_F(CUiFixture, OpeningAFileThatIsNoProjectKeepsTheOpenProjectAndCreatesNothing) {
    RememberProject();
    CDirsDlg window(QFont(QStringLiteral("Tahoma"), 10));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* path = window.findChild<QLabel*>(QStringLiteral("id1021"));
    ASSERT_NE(path, nullptr);
    ASSERT_EQ(path->toolTip(), project);
    const QString folder = window.Watcher().Folder();

    ASSERT_TRUE(QDir().mkpath(dir.File(QStringLiteral("mail"))));
    const QString junk = dir.File(QStringLiteral("mail/price.kxc"));
    ASSERT_TRUE(WriteFileBytes(junk, QByteArray("Прайс;Цена\r\n").repeated(300)));
    prompt.Clear();
    prompt.QueueFileName(junk);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("id1015")), Qt::LeftButton);

    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0],
                          QStringLiteral("Ошибка! Не удалось загрузить конфигурацию!\n") + junk +
                              QStringLiteral("\nФайл не является базой данных SQLite (поврежден или это другой файл)."),
                          QStringLiteral("Конфигуратор прошивки"), PromptIcon::Error));
    EXPECT_EQ(path->toolTip(), project);
    EXPECT_EQ(CurrentDirectoryFiles().projectPath, project);
    EXPECT_EQ(window.Watcher().Folder(), folder);
    EXPECT_EQ(LoaderSetting(QStringLiteral("config")), project);
    EXPECT_EQ(QDir(dir.File(QStringLiteral("mail"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("price.kxc")});
}
