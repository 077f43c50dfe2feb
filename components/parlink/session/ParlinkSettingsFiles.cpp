#include "components/parlink/session/ParlinkSettingsFiles.h"

#include "platform/InstallLayout.h"

namespace {
const QString kFileName = QStringLiteral("parlink.ini");
const QString kInstalledFolder = QStringLiteral("/lib/kxconfig/");
}  // namespace

QStringList ParlinkSettingsFiles(const QString& libraryFolder, const QProcessEnvironment& environment) {
    if (libraryFolder.isEmpty()) return {};
    if (!libraryFolder.endsWith(kInstalledFolder)) return {libraryFolder + kFileName};
    // <prefix>/lib/kxconfig/ -> <prefix>; the system's own prefix keeps its
    // configuration in /etc, any other prefix in <prefix>/etc.
    const QString prefix = libraryFolder.chopped(kInstalledFolder.size());
    const QString systemFolder = prefix == QLatin1String("/usr") ? QStringLiteral("/etc/kxconfig/")
                                                                 : prefix + QStringLiteral("/etc/kxconfig/");
    return {systemFolder + kFileName, UserConfigFolder(environment) + kFileName};
}
