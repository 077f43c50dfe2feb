#include "ui/exchange/ExchangeUi.h"

#include "app/Settings.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <thread>

QString PortOrSetting(const QString& port) {
    if (!port.isEmpty()) return port;
    const CSettingsPaths paths = CSettingsPaths::ForProgramFolder(ProgramFolder());
    return Profile::ReadString(paths.loaderSettings, QString::fromLatin1(kSettingsSection),
                               QStringLiteral("port"), QStringLiteral("COM1"));
}

void RememberPort(const QString& port) {
    WriteLoaderSetting(CSettingsPaths::ForProgramFolder(ProgramFolder()), QStringLiteral("port"), port);
}

QProgressBar* MakeProgressBar(QWidget* parent, const QString& objectName) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(objectName);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

void ResetBar(QProgressBar* bar, int n) {
    // An empty range would turn a Qt bar into a busy indicator.
    bar->setRange(0, std::clamp(n, 1, 0xFFFF));
    bar->setValue(0);
    bar->repaint();
}

void StepBar(QProgressBar* bar) {
    bar->setValue(std::min(bar->value() + 1, bar->maximum()));
    bar->repaint();
}

QPushButton* MakeDisabledCancel(QWidget* parent) {
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), parent);
    cancel->setObjectName(QStringLiteral("id2"));
    cancel->setEnabled(false);
    return cancel;
}

int RunResponsive(QWidget* window, const std::function<int()>& work) {
    QEventLoop loop;
    int result = 0;
    window->setEnabled(false);
    window->setCursor(Qt::WaitCursor);
    std::thread worker([&] {
        result = work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    window->unsetCursor();
    window->setEnabled(true);
    return result;
}
