#include "ui/common/FileVersionInfo.h"

#include "platform/ProgramInformation.h"

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
    return FormatVersion((m_packed >> 24) & 0xFF, (m_packed >> 16) & 0xFF, (m_packed >> 8) & 0xFF, m_packed & 0xFF,
                         m_specialBuild);
}
