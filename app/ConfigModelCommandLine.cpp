#include "app/ConfigModelCommandLine.h"

#include "app/KXConfigApp.h"
#include "platform/InstallLayout.h"
#include "platform/ProfileFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

// Why the remembered project could not be opened, in a few words.
QString ProjectFileFault(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return QStringLiteral("файл не найден");
    if (info.isDir()) return QStringLiteral("это папка, а не файл проекта");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("нет прав на чтение файла");
    static const QByteArray kDatabaseHeader("SQLite format 3\0", 16);
    if (file.read(kDatabaseHeader.size()) != kDatabaseHeader)
        return QStringLiteral("файл не является базой данных SQLite (поврежден или это другой файл)");
    return QStringLiteral("файл поврежден или не является проектом KXConfig");
}

void WriteError(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

bool CConfigModelCommandLine::LoadConfigFileFMT() {
    if (m_model.LoadConfigFileFMT()) return true;
    WriteError(ConfigurationProblemText(m_model, CurrentInstallLayout()));
    return false;
}

QString ConfigurationProblemText(CConfigModel& model, const CInstallLayout& layout) {
    if (!model.IsTemplateOpen()) {
        return QStringLiteral("kxloader: не найден шаблон конфигурации %1; %2\n")
            .arg(model.TemplateLocation(),
                 layout.mode == InstallMode::Installed
                     ? QStringLiteral("он копируется из %1 при запуске, переустановите программу")
                           .arg(layout.shippedTemplate)
                     : QStringLiteral("он должен лежать в папке программы"));
    }
    const QString ini = layout.loaderSettings;
    const QString where = QStringLiteral("в ключе config раздела [kxloader.exe] файла настроек %1").arg(ini);
    const QString project = Profile::ReadString(ini, QStringLiteral("kxloader.exe"), QStringLiteral("config"));
    if (project.isEmpty())
        return QStringLiteral("kxloader: конфигурация не задана: укажите путь к файлу проекта (*.kxc) %1\n").arg(where);
    return QStringLiteral("kxloader: не удалось открыть конфигурацию %1: %2\nkxloader: укажите другой проект %3\n")
        .arg(project, ProjectFileFault(project), where);
}

void RunCommandLineOnConfigModel(CKXConfigApp& app, const QStringList& arguments) {
    CConfigModel model;
    CConfigModelCommandLine configuration(model);
    RunCommandLine(app, configuration, arguments);
    model.Close();
}
