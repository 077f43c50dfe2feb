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
        // Reinstalling helps only when the shipped template itself is gone;
        // a copy the user's folder refused is a matter of that folder (the
        // line before this one gave the system's reason).
        QString advice = QStringLiteral("он должен лежать в папке программы");
        if (layout.mode == InstallMode::Installed)
            advice = QFileInfo(layout.shippedTemplate).isFile()
                         ? QStringLiteral("он копируется из %1 в папку %2 при запуске; проверьте, что в эту папку "
                                          "можно писать")
                               .arg(layout.shippedTemplate, layout.userDataFolder)
                         : QStringLiteral("он копируется из %1 при запуске, а там его нет: переустановите программу")
                               .arg(layout.shippedTemplate);
        return QStringLiteral("kxloader: не найден шаблон конфигурации %1; %2\n").arg(model.TemplateLocation(), advice);
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
