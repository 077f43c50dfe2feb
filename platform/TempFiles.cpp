#include "platform/TempFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

QString CreateKxTempFile(const QString& folder) {
    const QString dir = folder.isEmpty() ? QDir::tempPath() : folder;
    QTemporaryFile file(QDir(dir).filePath(QStringLiteral("kx_XXXXXX.tmp")));
    file.setAutoRemove(false);
    if (!file.open()) return QString();
    const QString path = QDir::toNativeSeparators(file.fileName());
    file.close();
    return path;
}

bool RemoveFileQuietly(const QString& path) {
    if (path.isEmpty()) return true;
    QFile::remove(path);
    return !QFile::exists(path);
}
