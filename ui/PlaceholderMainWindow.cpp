#include "ui/PlaceholderMainWindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

void RunPlaceholderMainWindow(CKXConfigApp& app) {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("KXLoader"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Папка программы: %1\nПорт: %2\nКонфигурация: %3")
                                     .arg(app.ProgramFolder, app.Settings.port,
                                          app.Settings.config.isEmpty() ? QStringLiteral("(нет)")
                                                                        : app.Settings.config)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.exec();
}
