#pragma once
// The GNU information switches beside the program's own /h: `kxloader --help`
// and `kxloader --version` print to standard output and end with 0 before any
// settings, template or project is read, so they work on a fresh installation.

#include "platform/InstallLayout.h"
#include "platform/ProgramInformation.h"

#include <QString>
#include <QStringList>

// "kxloader (KXConfig) 1.0.0" (1.0.0.N with a build number), with the
// special-build text when there is one.
QString VersionText();
// Usage, the switches of /h, and where this installation keeps its files.
QString UsageText(const CInstallLayout& layout);

// Writes the text of `which` to standard output.
void PrintInformation(InformationSwitch which, const CInstallLayout& layout);
