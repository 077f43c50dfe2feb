// kx_screenshots <output-folder> [picture-name ...]
// Runs every registered picture (or the named ones) and says which failed.

#include "tools/screenshots/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <map>
#include <string>

namespace {

std::map<std::string, ScreenshotFunction>& Registry() {
    static std::map<std::string, ScreenshotFunction> registry;
    return registry;
}

bool CopyFolder(const QString& from, const QString& to) {
    QDir source(from);
    if (!source.exists() || !QDir().mkpath(to)) return false;
    for (const QFileInfo& entry : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        const bool ok = entry.isDir() ? CopyFolder(entry.filePath(), target)
                                      : QFile::copy(entry.filePath(), target);
        if (!ok) return false;
    }
    return true;
}

}  // namespace

bool ScreenshotContext::Save(QWidget* widget, const QString& name) const {
    const QString path = output.filePath(name + QStringLiteral(".png"));
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

int RegisterScreenshot(const char* name, ScreenshotFunction function) {
    Registry()[name] = std::move(function);
    return 0;
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("Tahoma"), 10));
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kx_screenshots <output-folder> [picture ...]\n");
        return 2;
    }
    QDir output(args[1]);
    QDir().mkpath(output.absolutePath());

    int failed = 0;
    for (const auto& [name, shoot] : Registry()) {
        if (args.size() > 2 && !args.mid(2).contains(QString::fromStdString(name))) continue;
        // Every picture gets its own fresh copy of the demo, so none sees
        // another's edits.
        QTemporaryDir work;
        const QString programFolder = QStringLiteral(KX_PROGRAM_DIR);
        if (!work.isValid() || !CopyFolder(programFolder + QStringLiteral("/demo"), work.path())) {
            std::fprintf(stderr, "%s: cannot copy the demo project\n", name.c_str());
            ++failed;
            continue;
        }
        const ScreenshotContext context{output, QDir(work.path()), programFolder};
        if (!shoot(context)) {
            std::fprintf(stderr, "%s: failed\n", name.c_str());
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
