#pragma once
// The files of the current project's reference directories. A project
// D:/cfg/shop.kxc keeps them in D:/cfg/files/: shop_opers.ux3 ... shop_ndocsplan.ux9,
// shop_journal.txt and info.txt. One project is current at a time, so these
// are process-wide values; they are empty until a project is made current.
// Set on the UI thread (or by the command line before any exchange); the
// upload worker only reads them while its window is open.

#include "directories/DirectoryKind.h"

#include <QString>

#include <array>

struct DirectoryFiles {
    QString projectPath;   // the .kxc file as given
    QString filesFolder;   // "<folder of the project>/files/" (trailing separator)
    QString filePrefix;    // filesFolder + project name without extension
    std::array<QString, kDirectoryKindCount> directories;  // by DirectoryKind
    QString journalFile;   // filePrefix + "_journal.txt"
    QString infoFile;      // filesFolder + "info.txt"
};

// The file suffix of a kind ("_opers.ux3" ...; "_journal.txt" for JournalView),
// empty for codes that are not kinds.
QString DirectorySuffix(int kind);

// Recomputes every path from the project path (empty project: all empty).
void SetProjectPath(const QString& projectPath);

// The current paths (a copy, safe to keep).
DirectoryFiles CurrentDirectoryFiles();

// The file of a directory file kind; false and an empty text for any other kind.
bool DirectoryPath(int kind, QString* path);

// The command line points single directories or the info table elsewhere.
void SetDirectoryFilePath(int kind, const QString& path);
void SetJournalFilePath(const QString& path);
void SetInfoFilePath(const QString& path);
