#include "directories/FileBackup.h"

#include <QFile>
#include <QFileInfo>

QString FreeBackupPath(const QString& path) {
    QString candidate = path + QStringLiteral(".bak");
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = path + QStringLiteral(".%1.bak").arg(n);
    return candidate;
}

bool MakeBackupCopy(const QString& path, const QString& backupPath) {
    // QFile::copy never replaces an existing file; the size check catches a
    // copy cut short (a full disk).
    if (!QFile::copy(path, backupPath)) return false;
    return QFileInfo(backupPath).size() == QFileInfo(path).size();
}
