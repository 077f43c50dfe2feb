#pragma once
// The GNU information switches beside the program's own /h: `kxloader --help`
// and `kxloader --version` print to standard output and end with 0 before any
// settings, template or project is read, so they work on a fresh installation.

#include "platform/InstallLayout.h"

#include <QString>
#include <QStringList>

enum class InformationSwitch { None, Help, Version };

// The first --help or --version among the arguments after the program name
// (and before a "--", after which every word is a file name).
InformationSwitch FindInformationSwitch(const QStringList& arguments);

// "kxloader (KXConfig) 1.0.0" (1.0.0.N with a build number), with the
// special-build text when there is one.
QString VersionText();
// Usage, the switches of /h, and where this installation keeps its files.
QString UsageText(const CInstallLayout& layout);

// Writes the text of `which` to standard output.
void PrintInformation(InformationSwitch which, const CInstallLayout& layout);
