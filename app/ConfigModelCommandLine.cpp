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
    QString error, notice;
    // A failure is said here with its reason; the start-up load then reports
    // the missing template in the system's words.
    const bool prepared = layout.PrepareUserFiles(&error, &notice);
    for (const QString& text : {prepared ? QString() : error, notice})
        if (!text.isEmpty()) WriteError(QStringLiteral("kxloader: %1\n").arg(text));
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
