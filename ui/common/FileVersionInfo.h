#pragma once
// The program's own version: the numbers and the optional special-build text
// fixed by the build, packed the way the version resource of the Windows
// program carried them (major in bits 24-31, minor 16-23, patch 8-15, build
// 0-7), and the text shown in captions and the about box.

#include <QString>

#include <cstdint>

class CFileVersionInfo {
public:
    // Reads the running program's version.
    CFileVersionInfo();
    // A given version (tests, other programs' version blocks).
    CFileVersionInfo(unsigned major, unsigned minor, unsigned patch, unsigned build,
                     const QString& specialBuild);

    // "1.2.3" or "1.2.3.4" when the build number is not 0, followed by a blank
    // and the special-build text when there is one.
    QString VersionText() const;

    std::uint32_t PackedVersion() const { return m_packed; }
    const QString& ModulePath() const { return m_modulePath; }
    const QString& SpecialBuild() const { return m_specialBuild; }

private:
    QString m_modulePath;
    std::uint32_t m_packed = 0;
    QString m_specialBuild;
};
