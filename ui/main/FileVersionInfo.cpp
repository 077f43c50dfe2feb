#include "ui/main/FileVersionInfo.h"

#include <QCoreApplication>

namespace {

std::uint32_t Pack(unsigned major, unsigned minor, unsigned patch, unsigned build) {
    return (std::uint32_t(major & 0xFF) << 24) | (std::uint32_t(minor & 0xFF) << 16) |
           (std::uint32_t(patch & 0xFF) << 8) | std::uint32_t(build & 0xFF);
}

}  // namespace

CFileVersionInfo::CFileVersionInfo()
    : CFileVersionInfo(KX_VERSION_MAJOR, KX_VERSION_MINOR, KX_VERSION_PATCH, KX_VERSION_BUILD,
                       QStringLiteral(KX_VERSION_SPECIAL_BUILD)) {
    if (QCoreApplication::instance()) m_modulePath = QCoreApplication::applicationFilePath();
}

CFileVersionInfo::CFileVersionInfo(unsigned major, unsigned minor, unsigned patch, unsigned build,
                                   const QString& specialBuild)
    : m_packed(Pack(major, minor, patch, build)), m_specialBuild(specialBuild) {}

QString CFileVersionInfo::VersionText() const {
    const unsigned major = (m_packed >> 24) & 0xFF;
    const unsigned minor = (m_packed >> 16) & 0xFF;
    const unsigned patch = (m_packed >> 8) & 0xFF;
    const unsigned build = m_packed & 0xFF;
    QString text = build != 0 ? QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(patch).arg(build)
                              : QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
    if (!m_specialBuild.isEmpty()) text += QLatin1Char(' ') + m_specialBuild;
    return text;
}
