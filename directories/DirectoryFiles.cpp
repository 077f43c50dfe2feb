#include "directories/DirectoryFiles.h"

#include <QFileInfo>

#include <mutex>

namespace {

std::mutex g_lock;
DirectoryFiles g_files;

}  // namespace

QString DirectorySuffix(int kind) {
    const DirectoryKindInfo* info = FindDirectoryKind(kind);
    return info ? QString::fromLatin1(info->fileSuffix) : QString();
}

void SetProjectPath(const QString& projectPath) {
    DirectoryFiles files;
    files.projectPath = projectPath;
    if (!projectPath.isEmpty()) {
        // Split like the drive/folder/name/extension split of a path: the folder
        // keeps its trailing separator, the name loses only its last extension.
        QString normalized = projectPath;
        normalized.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const int slash = static_cast<int>(normalized.lastIndexOf(QLatin1Char('/')));
        const QString folder = normalized.left(slash + 1);
        const QString fileName = normalized.mid(slash + 1);
        const int dot = static_cast<int>(fileName.lastIndexOf(QLatin1Char('.')));
        const QString baseName = dot > 0 ? fileName.left(dot) : fileName;
        files.filesFolder = folder + QStringLiteral("files/");
        files.filePrefix = files.filesFolder + baseName;
        for (int kind = 0; kind < kDirectoryKindCount; ++kind)
            files.directories[kind] = files.filePrefix + DirectorySuffix(kind);
        files.journalFile = files.filePrefix + DirectorySuffix(JournalView);
        files.infoFile = files.filesFolder + QStringLiteral("info.txt");
    }
    std::lock_guard guard(g_lock);
    g_files = files;
}

DirectoryFiles CurrentDirectoryFiles() {
    std::lock_guard guard(g_lock);
    return g_files;
}

bool DirectoryPath(int kind, QString* path) {
    if (!IsDirectoryFileKind(kind)) {
        if (path) path->clear();
        return false;
    }
    std::lock_guard guard(g_lock);
    if (path) *path = g_files.directories[kind];
    return true;
}

void SetDirectoryFilePath(int kind, const QString& path) {
    if (!IsDirectoryFileKind(kind)) return;
    std::lock_guard guard(g_lock);
    g_files.directories[kind] = path;
}

void SetJournalFilePath(const QString& path) {
    std::lock_guard guard(g_lock);
    g_files.journalFile = path;
}

void SetInfoFilePath(const QString& path) {
    std::lock_guard guard(g_lock);
    g_files.infoFile = path;
}
