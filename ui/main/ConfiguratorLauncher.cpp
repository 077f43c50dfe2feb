#include "ui/main/ConfiguratorLauncher.h"

#include "ui/config/KXConfigDlg.h"

void RunConfiguratorWindow(CConfigModel& model, const QFont& font, QWidget* parent) {
    CKXConfigDlg dialog(model, font, parent);
    dialog.exec();
}
