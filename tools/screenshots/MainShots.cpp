// Pictures of the main window and the windows it opens, for the user guide.

#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "tools/screenshots/Screenshots.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/exchange/LoadConfigToTerminalDlg.h"
#include "ui/exchange/ExchangeUi.h"
#include "ui/exchange/TransferAnimation.h"
#include "ui/exchange/UploadingDirDlg.h"
#include "ui/main/DirsDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>

namespace {

// A program folder inside the demo copy: the built template, and settings
// that make the demo the current project with every button available.
void UseDemoAsProgramFolder(const ScreenshotContext& context) {
    const QString program = context.work.filePath(QStringLiteral("bin")) + QLatin1Char('/');
    QDir().mkpath(program);
    QFile::link(context.programFolder + QStringLiteral("/KXConfigFMT.db"), program + QStringLiteral("KXConfigFMT.db"));
    const QString section = QStringLiteral("kxloader.exe");
    Profile::WriteString(program + QStringLiteral("kxloader.ini"), section, QStringLiteral("config"),
                         context.work.filePath(QStringLiteral("demo.kxc")));
    Profile::WriteString(program + QStringLiteral("kxloader.ini"), section, QStringLiteral("port"),
                         QStringLiteral("COM1"));
    Profile::WriteString(program + QStringLiteral("kxconfig.ini"), section, QStringLiteral("setedit"),
                         QStringLiteral("1"));
    SetProgramFolder(program);
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void Settle(QWidget* window) {
    window->show();
    Wait(100);
}

}  // namespace

KX_SCREENSHOT(main_window) {
    UseDemoAsProgramFolder(context);
    CDirsDlg window(QApplication::font());
    Settle(&window);
    for (const char* id : {"id1018", "id1025", "id1028"}) window.findChild<QCheckBox*>(id)->click();
    return context.Save(&window, QStringLiteral("main_window"));
}

KX_SCREENSHOT(directory_editor) {
    UseDemoAsProgramFolder(context);
    CConfigModel model;
    if (!model.LoadConfigFileFMT()) return false;
    CEditDirGridDlg editor(&model, QApplication::font());
    editor.SetKind(Wares);
    Settle(&editor);
    QTableView* view = editor.View();
    // What a click on the cell does.
    QMetaObject::invokeMethod(view, "clicked", Q_ARG(QModelIndex, editor.Model().index(2, 2)));
    Wait(50);
    return context.Save(&editor, QStringLiteral("directory_editor"));
}

KX_SCREENSHOT(upload_progress) {
    // Drawn without being shown, so no upload starts: the state of a window
    // a third of the way through the wares, the second of three directories.
    CUploadingDirDlg upload;
    upload.findChild<QLabel*>(QStringLiteral("id1033"))->setText(QStringLiteral("Справочник товаров"));
    ShowBar(upload.findChild<QProgressBar*>(QStringLiteral("id1026")), 128890, 400040, true);
    ShowBar(upload.findChild<QProgressBar*>(QStringLiteral("id1025")), 2, 4, false);
    return context.Save(&upload, QStringLiteral("upload_progress"));
}

KX_SCREENSHOT(config_upload) {
    UseDemoAsProgramFolder(context);
    CConfigModel model;
    if (!model.LoadConfigFileFMT()) return false;
    CLoadConfigToTerminalDlg upload(model, QStringLiteral("COM1"));
    // A page half-way, as while the updater works.
    auto* animation = upload.findChild<CTransferAnimation*>();
    animation->Play();
    for (int i = 0; i < 300 && animation->Frame() != 6; ++i) Wait(5);
    return context.Save(&upload, QStringLiteral("config_upload"));
}
