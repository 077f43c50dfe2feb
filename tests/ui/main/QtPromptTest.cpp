// The program's own message boxes and file dialogs as the user meets them:
// over the window that raised them, with Qt's standard buttons in Russian,
// and a word about the configuration report when no viewer can show it.

#include "tests/ui/main/UiFixture.h"
#include "ui/QtPrompt.h"
#include "ui/QtTranslations.h"
#include "ui/main/DirsDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

namespace {

class QtPrompt : public CUiFixture {
protected:
    void SetUp() override {
        CUiFixture::SetUp();
        RememberProject();
        window = std::make_unique<CDirsDlg>(QFont(QStringLiteral("Tahoma"), 10));
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        scope = std::make_unique<CScopedPrompt>(boxes);
    }
    void TearDown() override {
        scope.reset();
        window.reset();
        CUiFixture::TearDown();
    }
    void Click(int id) const {
        QTest::mouseClick(window->findChild<QAbstractButton*>(QStringLiteral("id%1").arg(id)), Qt::LeftButton);
    }

    CQtPrompt boxes;
    std::unique_ptr<CScopedPrompt> scope;
    std::unique_ptr<CDirsDlg> window;
};

}  // namespace

TEST_F(QtPrompt, BoxesAndFileDialogsStandOverTheirWindowWithRussianButtons) {
    QTranslator* translator = InstallQtTranslations();
    ASSERT_NE(translator, nullptr) << "Qt's translations are not installed (qt6-translations-l10n)";

    QWidget* boxParent = nullptr;
    QStringList buttons;
    EXPECT_TRUE(DriveModalOf<QMessageBox>(
        [&] { QTest::keyClick(window.get(), Qt::Key_Escape); },
        [&](QMessageBox* box) {
            boxParent = box->parentWidget();
            for (QAbstractButton* b : box->buttons()) buttons << b->text().remove('&');
            box->button(QMessageBox::No)->click();
        },
        window.get()));
    EXPECT_EQ(boxParent, window.get());
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({QStringLiteral("Да"), QStringLiteral("Нет")}));
    EXPECT_TRUE(window->isVisible());

    // "Установить" asks for a project file over the main window.
    QWidget* dialogParent = nullptr;
    EXPECT_TRUE(DriveModalOf<QFileDialog>(
        [&] { Click(1015); },
        [&](QFileDialog* dialog) {
            dialogParent = dialog->parentWidget();
            dialog->reject();
        },
        window.get()));
    EXPECT_EQ(dialogParent, window.get());

    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST_F(QtPrompt, PrintSaysWhereTheReportIsWhenNoViewerCanShowIt) {
    // The offscreen desktop has no program to open text files with.
    QString text;
    EXPECT_TRUE(DriveModalOf<QMessageBox>(
        [&] { Click(1023); },
        [&](QMessageBox* box) {
            text = box->text();
            box->accept();
        },
        window.get()));
    const QString report = dir.File(QStringLiteral("demo/files/configuration.txt"));
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(report))) << text.toStdString();
    EXPECT_TRUE(QFile::exists(report));
}
