// The main window on a copy of the demo project: its opening with the
// settings, the directory rows and their counts, the choice of directories,
// the folder watcher, the guards of its buttons and the way out.

#include "directories/DirectoryFiles.h"
#include "tests/ui/main/UiFixture.h"
#include "ui/common/FileVersionInfo.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/main/DirsDlg.h"
#include "ui/main/ProgramIdentity.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

class MainWindow : public CUiFixture {
protected:
    // Opens the main window on the remembered project (or none).
    void Open() {
        window = std::make_unique<CDirsDlg>(QFont(QStringLiteral("Tahoma"), 10));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    template <typename T = QWidget>
    T* Find(int id) const {
        T* widget = window->findChild<T*>(QStringLiteral("id%1").arg(id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    QString Label(int id) const { return Find<QLabel>(id)->text(); }
    void Click(int id) const { QTest::mouseClick(Find<QAbstractButton>(id), Qt::LeftButton); }

    std::unique_ptr<CDirsDlg> window;
};

// Check box ids of the seven directories by kind.
constexpr int kCheck[] = {1018, 1025, 1026, 1019, 1028, 1030, 1031};

}  // namespace

TEST_F(MainWindow, OpensWithItsSettingsAndShowsTheCountsOfTheDirectoryFiles) {
    RememberProject();
    WriteLoaderSetting(QStringLiteral("port"), QStringLiteral("typed-by-hand"));
    WriteLoaderSetting(QStringLiteral("OverwriteJournal"), QStringLiteral("0"));
    WriteConfigSetting(QStringLiteral("setedit"), QStringLiteral("1"));
    SetProjectPath(project);
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Operations), Lines(12)));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Wares), Lines(1500)));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Executors), QByteArray()));
    Open();

    EXPECT_EQ(window->windowTitle(),
              QStringLiteral("Программа обмена данными KXLoader (ver: %1)").arg(CFileVersionInfo().VersionText()));
    EXPECT_EQ(Find<QLabel>(1021)->toolTip(), project);
    // A port that is not in the list stays in the edit field.
    EXPECT_EQ(Find<QComboBox>(1029)->currentText(), QStringLiteral("typed-by-hand"));
    EXPECT_EQ(Find<QComboBox>(1029)->findText(QStringLiteral("typed-by-hand")), -1);
    EXPECT_EQ(Find<QComboBox>(1029)->itemText(Find<QComboBox>(1029)->count() - 1), QStringLiteral("ActiveSync"));
    EXPECT_FALSE(Find<QCheckBox>(1024)->isChecked());
    EXPECT_EQ(LoaderSetting(QStringLiteral("OverwriteJournal")), QStringLiteral("0"));
    EXPECT_TRUE(Find<QPushButton>(1022)->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(1014)->isEnabled());

    EXPECT_EQ(Label(1032), QStringLiteral("Операции   (12)"));
    EXPECT_EQ(Find<QPushButton>(1002)->text(), QStringLiteral("Редакт."));
    EXPECT_TRUE(Find<QCheckBox>(1018)->isEnabled());
    EXPECT_EQ(Label(1035), QStringLiteral("Товары   (>1000)"));
    // Empty and missing files alike.
    for (int id : {1033, 1034}) EXPECT_EQ(Label(id), Label(id).section(QLatin1Char(' '), 0, 0));
    EXPECT_EQ(Find<QPushButton>(1005)->text(), QStringLiteral("Создать"));
    EXPECT_FALSE(Find<QCheckBox>(1025)->isEnabled());

    // The editor counts the whole file; closing it shows the exact count.
    EXPECT_TRUE(DriveModalOf<CEditDirGridDlg>(
        [&] { Click(1009); },
        [](CEditDirGridDlg* editor) {
            EXPECT_EQ(editor->RowCount(), 1500);
            QTest::mouseClick(editor->findChild<QPushButton*>("id2"), Qt::LeftButton);
        },
        window.get()));
    EXPECT_EQ(Label(1035), QStringLiteral("Товары   (1500)"));

    // Rows added in the editor and thrown away on closing are not counted.
    prompt.QueueAnswer(AnswerNo);  // "Сохранить последние изменения?"
    EXPECT_TRUE(DriveModal([&] { Click(1002); },
                           [](QWidget* editor) {
                               QTest::mouseClick(editor->findChild<QPushButton*>("id1004"), Qt::LeftButton);
                               QTest::mouseClick(editor->findChild<QPushButton*>("id2"), Qt::LeftButton);
                           },
                           window.get()));
    EXPECT_EQ(Label(1032), QStringLiteral("Операции   (12)"));
    EXPECT_EQ(ReadFileBytes(DirectoryFile(Operations)), Lines(12));
}

TEST_F(MainWindow, SelectAllFollowsTheDirectoryBoxesAndChoosesEveryEnabledOne) {
    RememberProject();
    SetProjectPath(project);
    for (int kind : {Operations, Executors, Addresses, Documents, Wares})
        ASSERT_TRUE(WriteFileBytes(DirectoryFile(kind), Lines(3)));
    Open();
    auto* all = Find<QCheckBox>(1043);
    auto* upload = Find<QPushButton>(1010);
    EXPECT_EQ(all->checkState(), Qt::Unchecked);
    EXPECT_FALSE(upload->isEnabled());

    Click(kCheck[Executors]);
    Click(kCheck[Wares]);
    EXPECT_EQ(all->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(upload->isEnabled());

    Click(1043);
    EXPECT_EQ(all->checkState(), Qt::Checked);
    for (int kind = 0; kind < 7; ++kind)
        EXPECT_EQ(Find<QCheckBox>(kCheck[kind])->isChecked(), kind <= Wares) << kind;

    Click(1043);
    EXPECT_EQ(all->checkState(), Qt::Unchecked);
    for (int kind = 0; kind < 7; ++kind) EXPECT_FALSE(Find<QCheckBox>(kCheck[kind])->isChecked()) << kind;
    EXPECT_FALSE(upload->isEnabled());

    // Emptied from outside: the chosen box goes off and the choice follows.
    Click(kCheck[Addresses]);
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Addresses), QByteArray()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Find<QCheckBox>(kCheck[Addresses])->isEnabled(); }, 3000));
    EXPECT_FALSE(Find<QCheckBox>(kCheck[Addresses])->isChecked());
    EXPECT_EQ(all->checkState(), Qt::Unchecked);
    EXPECT_FALSE(upload->isEnabled());
}

TEST_F(MainWindow, AnOutsideWriteUpdatesTheCountAndTheWatcherFollowsAnotherProject) {
    RememberProject();
    SetProjectPath(project);
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Documents), Lines(2)));
    Open();
    EXPECT_EQ(Label(1037), QStringLiteral("Документы   (2)"));

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Documents), Lines(7)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Label(1037) == QStringLiteral("Документы   (7)"); }, 3000));
    // About half a second on an idle machine; the bound leaves room for load.
    EXPECT_LT(clock.elapsed(), 2500);

    // "Установить" another project: the rows and the watcher follow it.
    ASSERT_TRUE(QDir().mkpath(dir.File(QStringLiteral("other/files"))));
    const QString other = dir.File(QStringLiteral("other/shop.kxc"));
    ASSERT_TRUE(QFile::copy(project, other));
    prompt.QueueFileName(other);
    Click(1015);
    EXPECT_EQ(Find<QLabel>(1021)->toolTip(), other);
    EXPECT_EQ(Label(1037), QStringLiteral("Документы"));
    EXPECT_EQ(window->Watcher().Folder(), dir.File(QStringLiteral("other/files/")));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Documents), Lines(4)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Label(1037) == QStringLiteral("Документы   (4)"); }, 3000));
}

TEST_F(MainWindow, WithoutAProjectTheProjectButtonsOnlyComplainAndTheWatcherStartsWithTheFirstProject) {
    Open();
    EXPECT_TRUE(Find<QLabel>(1021)->toolTip().isEmpty());
    EXPECT_FALSE(window->Watcher().IsRunning());
    for (int id : {1002, 1017, 1013, 1016, 1023}) {
        prompt.Clear();
        Click(id);
        EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("Не открыта конфигурация!")}) << id;
    }
    EXPECT_EQ(prompt.Messages().last().caption, QStringLiteral("Ошибка!"));

    prompt.QueueFileName(project);
    Click(1015);
    EXPECT_TRUE(window->Watcher().IsRunning());
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Addresses), Lines(5)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Label(1034) == QStringLiteral("Адреса   (5)"); }, 3000));
}

TEST_F(MainWindow, LoadingTheConfigurationWithoutOperationsOpensNothing) {
    RememberProject();
    SetProjectPath(project);
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Executors), Lines(2)));
    Open();
    prompt.Clear();
    Click(1016);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0],
                          QStringLiteral("Нельзя загружать конфигурацию без справочника операций!\n"
                                         "Создайте справочник операций!"),
                          QStringLiteral("Внимание"), PromptIcon::Error));
}

TEST_F(MainWindow, PrintOpensTheReportAndExportWritesTheTerminalDatabase) {
    RememberProject();
    Open();
    Click(1023);
    const QString report = dir.File(QStringLiteral("demo/files/configuration.txt"));
    EXPECT_EQ(prompt.ViewerPaths(), QStringList{report});
    EXPECT_TRUE(ReadFileBytes(report).startsWith(Cp1251(QStringLiteral("Распечатка конфигурации: ") + project)));

    const QString exported = dir.File(QStringLiteral("demo.kxc_db"));
    prompt.QueueFileName(exported);
    Click(1004);
    EXPECT_EQ(prompt.FileRequests().last().initialName, project + QStringLiteral("_db"));
    EXPECT_EQ(prompt.Texts(), QStringList{QStringLiteral("БД конфигурации экспортирована успешно.")});
    EXPECT_TRUE(ReadFileBytes(exported).startsWith("SQLite format 3"));
}

TEST_F(MainWindow, EnterInThePortFieldTakesThePortAndElsewhereAsksBeforeLeaving) {
    RememberProject();
    Open();
    const QString working = window->Model().WorkingPath();
    ASSERT_TRUE(QFile::exists(working));
    auto* port = Find<QComboBox>(1029);
    port->setFocus();
    port->lineEdit()->selectAll();
    QTest::keyClicks(port->lineEdit(), QStringLiteral("/dev/ttyUSB10"));
    // The field shows a device path whole.
    EXPECT_GE(port->lineEdit()->width(),
              port->lineEdit()->fontMetrics().horizontalAdvance(QStringLiteral("/dev/ttyUSB10")));

    // Enter in the port field confirms the port: kept, no question.
    QTest::keyClick(port->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(prompt.Texts().isEmpty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(LoaderSetting(QStringLiteral("port")), QStringLiteral("/dev/ttyUSB10"));
    EXPECT_EQ(port->currentText(), QStringLiteral("/dev/ttyUSB10"));

    // Enter elsewhere (not on a button) and Escape ask; No stays.
    Find<QCheckBox>(1024)->setFocus();
    prompt.QueueAnswer(AnswerNo);
    QTest::keyClick(Find<QCheckBox>(1024), Qt::Key_Return);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(prompt.Texts(), QStringList(2, QStringLiteral("Вы уверены, что хотите выйти из приложения?")));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(QFile::exists(working));

    port->setFocus();
    port->lineEdit()->selectAll();
    QTest::keyClicks(port->lineEdit(), QStringLiteral("/dev/ttyX9"));
    Find<QCheckBox>(1024)->setFocus();
    prompt.QueueAnswer(AnswerYes);
    QTest::keyClick(Find<QCheckBox>(1024), Qt::Key_Enter);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), 2);
    EXPECT_FALSE(QFile::exists(working));
    EXPECT_EQ(LoaderSetting(QStringLiteral("port")), QStringLiteral("/dev/ttyX9"));
}

TEST_F(MainWindow, APortThatCannotBeSavedOnExitIsSaidWithTheReason) {
    Open();
    Find<QComboBox>(1029)->setEditText(QStringLiteral("/dev/ttyX9"));
    // A settings file that cannot be replaced, whoever runs the test: a folder in its place.
    const QString ini = programFolder + QStringLiteral("kxloader.ini");
    QFile::remove(ini);
    ASSERT_TRUE(QDir().mkpath(ini));
    prompt.QueueAnswer(AnswerYes);
    Click(2);
    EXPECT_FALSE(window->isVisible());
    const QStringList texts = prompt.Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join('|').toStdString();
    const QString said = QStringLiteral("Не удалось сохранить порт /dev/ttyX9 в файле настроек %1: ").arg(ini);
    EXPECT_TRUE(texts[1].startsWith(said)) << texts[1].toStdString();
    EXPECT_GT(texts[1].size(), said.size());  // the system's reason follows
    EXPECT_EQ(prompt.Messages()[1].icon, PromptIcon::Warning);
}

TEST_F(MainWindow, TheWindowCarriesTheProgramsIconAndTheClassOfItsDesktopEntry) {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    const QString name = QCoreApplication::applicationName();
    SetProgramIdentity(*app);
    const QString windowClass = QCoreApplication::applicationName();
    const QString desktopName = QGuiApplication::desktopFileName();
    const QIcon appIcon = QGuiApplication::windowIcon();
    Open();
    const QIcon shown = window->windowIcon();
    QCoreApplication::setApplicationName(name);

    const QString entry = QString::fromUtf8(ReadFileBytes(QStringLiteral(KX_SOURCE_DIR "/data/desktop/kxconfig.desktop")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nStartupWMClass=%1\n").arg(windowClass))) << entry.toStdString();
    EXPECT_EQ(desktopName + QStringLiteral(".desktop"), QStringLiteral("kxconfig.desktop"));
    // The program's own picture, drawn (the SVG icon engine is there), not a stock one.
    EXPECT_FALSE(appIcon.pixmap(48).isNull());
    EXPECT_EQ(shown.cacheKey(), appIcon.cacheKey());
    const QImage drawn = shown.pixmap(48).toImage();
    const QImage own = QIcon(QStringLiteral(":/kxconfig/kxconfig.svg")).pixmap(48).toImage();
    EXPECT_FALSE(own.isNull());
    EXPECT_EQ(drawn, own);
}

// The directory rows stand from the top in the order users know (wares
// before documents), with their labels, and Tab walks them in that order.
TEST_F(MainWindow, DirectoryRowsStandAndTakeTheFocusInScreenOrder) {
    Open();
    const int checks[] = {1018, 1025, 1026, 1028, 1030, 1019, 1031};
    const int labels[] = {1032, 1033, 1034, 1035, 1039, 1037, 1038};
    const int edits[] = {1002, 1005, 1006, 1009, 1011, 1007, 1012};
    const QStringList texts = {"Операции", "Исполнители", "Адреса", "Товары", "Товары - S/N", "Документы",
                               "Документы - план"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Label(labels[i]), texts[i]) << i;
        if (i > 0) {
            EXPECT_GT(Find(checks[i])->y(), Find(checks[i - 1])->y()) << i;
            EXPECT_GT(Find(edits[i])->y(), Find(edits[i - 1])->y()) << i;
        }
    }
    // The focus chain: each row's check box, then its edit button, row by row.
    QStringList chain;
    QWidget* widget = Find(checks[0]);
    for (int guard = 0; guard < 200 && widget && chain.size() < 14; ++guard, widget = widget->nextInFocusChain())
        if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QPushButton*>(widget)) chain << widget->objectName();
    QStringList expected;
    for (int i = 0; i < 7; ++i) expected << QStringLiteral("id%1").arg(checks[i]) << QStringLiteral("id%1").arg(edits[i]);
    EXPECT_EQ(chain, expected);
}

// A person at the keyboard starts on the first directory that can be chosen,
// or on the port when none can: never on a button Enter would press.
TEST_F(MainWindow, StartsWithTheFocusOnTheFirstDirectoryOrThePort) {
    Open();  // no project: no directory can be chosen
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* port = Find<QComboBox>(1029);
    EXPECT_TRUE(window->focusWidget() == port || port->isAncestorOf(window->focusWidget()))
        << window->focusWidget()->objectName().toStdString();
    window.reset();

    RememberProject();
    SetProjectPath(project);
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Addresses), Lines(3)));
    ASSERT_TRUE(WriteFileBytes(DirectoryFile(Wares), Lines(3)));
    Open();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(window->focusWidget(), Find(1026));  // "Адреса", above "Товары"
    // Space chooses it; Enter on it asks before leaving, it starts nothing.
    QTest::keyClick(window->focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(Find<QCheckBox>(1026)->isChecked());
    EXPECT_TRUE(Find<QPushButton>(1010)->isEnabled());
    auto* pair = window->findChild<QPushButton*>(QStringLiteral("pairTerminal"));
    ASSERT_NE(pair, nullptr);
    EXPECT_FALSE(pair->isDefault() || pair->autoDefault());
}
