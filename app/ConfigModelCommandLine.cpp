#include "app/ConfigModelCommandLine.h"

#include "app/KXConfigApp.h"
#include "platform/InstallLayout.h"
#include "platform/ProfileFile.h"

#include <QFileInfo>

#include <cstdio>

namespace {

void WriteError(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

void PrepareInstalledUserFiles(const CInstallLayout& layout) {
    QString error;
    // The start-up load then reports the missing template in the system's words.
    if (!layout.PrepareUserFiles(&error)) WriteError(QStringLiteral("kxloader: %1\n").arg(error));
}

bool CConfigModelCommandLine::LoadConfigFileFMT() {
    const CInstallLayout layout = CurrentInstallLayout();
    // Nothing is made on disk before the project has opened. Until the user
    // has a copy of the template the shipped one is read in its place: this
    // mode only reads the template.
    if (layout.mode == InstallMode::Installed && !QFileInfo(layout.templateFile).isFile())
        m_model.SetTemplateLocation(layout.shippedTemplate);
    if (m_model.LoadConfigFileFMT()) {
        PrepareInstalledUserFiles(layout);
        return true;
    }
    WriteError(ConfigurationProblemText(m_model, layout));
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
    const QString reason = model.OpenProblem() != ProjectProblem::None
                               ? model.OpenProblemText()
                               : QStringLiteral("файл поврежден или не является проектом KXConfig");
    // A project another program holds is a good project: waiting, not
    // replacing it, is the remedy.
    const QString remedy = model.OpenProblem() == ProjectProblem::Busy
                               ? QStringLiteral("kxloader: повторите запуск, когда другая программа освободит файл\n")
                               : QStringLiteral("kxloader: укажите другой проект %1\n").arg(where);
    return QStringLiteral("kxloader: не удалось открыть конфигурацию %1: %2\n").arg(project, reason) + remedy;
}

void RunCommandLineOnConfigModel(CKXConfigApp& app, const QStringList& arguments) {
    CConfigModel model;
    CConfigModelCommandLine configuration(model);
    RunCommandLine(app, configuration, arguments);
    model.Close();
}
