#include "ui/main/ConfiguratorLauncher.h"

#include "platform/Prompt.h"

// SEAM: the configurator window (ui/config, CKXConfigDlg) is built on its
// own branch. Until it is merged this says so instead of opening it; the
// merge replaces the body with
//     CKXConfigDlg dialog(model, font, parent);
//     dialog.exec();
void RunConfiguratorWindow(CConfigModel&, const QFont&, QWidget*) {
    Prompt().Info(QStringLiteral("Редактор конфигурации в этой сборке отсутствует."), QStringLiteral("KXLoader"));
}
