#include "filesafety/TempFiles.h"

#include "filesafety/FileLock.h"
#include "filesafety/InPlaceChange.h"
#include "platform/LocalFileName.h"
#include "platform/SystemFile.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <cerrno>
#include <map>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCreateAttempts = 100;

// The owner locks this process holds, by the name all its files share
// ("<folder>/kx_XXXXXX"). They are let go when the file is released, or by
// the system when the process ends.
QMutex g_ownersLock;
std::map<QString, std::unique_ptr<CFileLock>> g_owners;

QString TempFolder(const QString& folder) { return folder.isEmpty() ? KxTempFolderPath() : folder; }

// The folder as it must be to hold this user's temporary files: a folder
// (not a link to one) of this user that nobody else can enter.
bool IsPrivateFolder(const QString& path, QString* problem) {
    struct stat status;
    if (!LocalStatus(path, &status, false)) {
        *problem = QStringLiteral("%1: %2").arg(path, SystemErrorText(errno));
        return false;
    }
    if (!S_ISDIR(status.st_mode))
        *problem = QStringLiteral("%1: it is %2")
                       .arg(path, S_ISLNK(status.st_mode) ? QStringLiteral("a link") : QStringLiteral("no folder"));
    else if (status.st_uid != ::geteuid())
        *problem = QStringLiteral("%1: it belongs to another user (%2)").arg(path).arg(status.st_uid);
    else if ((status.st_mode & 07777) != 0700)
        *problem = QStringLiteral("%1: its permissions are %2, not 0700").arg(path).arg(status.st_mode & 07777, 4, 8,
                                                                                        QLatin1Char('0'));
    else
        return true;
    return false;
}

// "<folder>/kx_XXXXXX" of a file "kx_XXXXXX.<anything>".
QString OwnerBase(const QString& path) {
    const QString clean = QDir::fromNativeSeparators(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = clean.indexOf(QLatin1Char('.'), slash + 1);
    return dot < 0 ? clean : clean.left(dot);
}

void RemoveOwnedFiles(const QString& base) {
    const QString tmp = base + QStringLiteral(".tmp");
    for (const QString& path : {tmp, tmp + QStringLiteral("-journal"), tmp + QStringLiteral("-wal"),
                                tmp + QStringLiteral("-shm"), base + QStringLiteral(".old"),
                                base + QStringLiteral(".undo")})
        RemoveLocalFile(path);
}

// The stale owner `base`, whose lock `lock` this process now holds: its
// unfinished change is put back, then its files go. False when the change
// cannot be put back yet: everything stays for a later start.
bool ClearStaleOwner(const QString& base, CFileLock& lock) {
    InPlaceUndo undo;
    const QString record = base + QStringLiteral(".undo");
    if (ReadUndoRecord(record, &undo)) {
        QString error;
        if (!ApplyUndo(undo, &error, true)) return false;
    }
    RemoveOwnedFiles(base);
    lock.Unlock(true);
    return true;
}

}  // namespace

QString KxTempFolderPath() {
    // The session's own folder where there is one; it is made by the system
    // for this user alone.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat status;
    if (runtime.startsWith('/') && ::lstat(runtime.constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
        status.st_uid == ::geteuid() && (status.st_mode & 077) == 0)
        return QDir::cleanPath(DecodeLocalName(runtime)) + QStringLiteral("/kxconfig");
    return QDir::tempPath() + QStringLiteral("/kxconfig-%1").arg(::geteuid());
}

bool PrepareKxTempFolder(const QString& folder, QString* problem) {
    QString local;
    QString& why = problem ? *problem : local;
    bool usable = false;
    const QByteArray bytes = EncodeLocalName(folder, &usable);
    if (!usable || bytes.isEmpty()) {
        why = QStringLiteral("%1: no folder can have this name").arg(PrintableLocalName(folder));
        return false;
    }
    // Made here: 0700 whatever the umask. Made before: used only as it was
    // made, never opened up or taken over (in a shared temporary folder
    // another user may have made it first, to read or plant our files).
    if (::mkdir(bytes.constData(), 0700) == 0) ::chmod(bytes.constData(), 0700);
    else if (errno != EEXIST) {
        why = QStringLiteral("%1: %2").arg(folder, SystemErrorText(errno));
        return false;
    }
    return IsPrivateFolder(folder, &why);
}

QString CreateKxTempFile(const QString& folder) {
    const QString dir = TempFolder(folder);
    if (!PrepareKxTempFolder(dir)) return QString();
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const QString base = QDir(dir).filePath(QStringLiteral("kx_") + RandomNamePart());
        // The owner lock first: a file is never without its owner, so a file
        // without one was made by someone else and is left alone.
        CSystemFile create;
        if (!create.Open(base + QStringLiteral(".lock"), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600)) {
            if (create.ErrorNumber() == EEXIST) continue;
            return QString();
        }
        create.Close();
        auto lock = std::make_unique<CFileLock>();
        if (lock->TryLockFile(base + QStringLiteral(".lock")) != CFileLock::Outcome::Locked) continue;
        lock->SetContent(LockHolderLine());
        CSystemFile file;
        if (!file.Open(base + QStringLiteral(".tmp"), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600)) {
            lock->Unlock(true);
            if (file.ErrorNumber() == EEXIST) continue;
            return QString();
        }
        QMutexLocker locker(&g_ownersLock);
        g_owners[base] = std::move(lock);
        return QDir::toNativeSeparators(base + QStringLiteral(".tmp"));
    }
    return QString();
}

QString KxTempCompanion(const QString& path, const QString& ending) {
    return QDir::toNativeSeparators(OwnerBase(path) + QLatin1Char('.') + ending);
}

void ReleaseKxTempFile(const QString& path) {
    if (path.isEmpty()) return;
    const QString base = OwnerBase(path);
    std::unique_ptr<CFileLock> lock;
    {
        QMutexLocker locker(&g_ownersLock);
        const auto found = g_owners.find(base);
        if (found != g_owners.end()) {
            lock = std::move(found->second);
            g_owners.erase(found);
        }
    }
    RemoveLocalFile(QDir::fromNativeSeparators(path));
    // Only a file this process made has companions to remove.
    if (!lock) return;
    RemoveOwnedFiles(base);
    lock->Unlock(true);
}

QString KeepKxTempFile(const QString& path, const QString& name) {
    const QString folder = FolderOf(QDir::fromNativeSeparators(path));
    QString kept = QDir(folder).filePath(name);
    struct stat status;
    for (int n = 1; LocalStatus(kept, &status, false) && n < kCreateAttempts; ++n)
        kept = QDir(folder).filePath(QStringLiteral("%1.%2").arg(name).arg(n));
    if (!RenameLocalFile(QDir::fromNativeSeparators(path), kept)) return QString();
    ReleaseKxTempFile(path);
    return kept;
}

int RemoveStaleKxTempFiles(const QString& folder) {
    const QDir dir(TempFolder(folder));
    // Checked on every use: what is in a folder that is not ours alone is
    // nobody's word on what to put back. (None is made just to look in it:
    // a run that changes nothing leaves the disk as it was.)
    QString problem;
    if (!IsPrivateFolder(dir.path(), &problem)) return 0;
    int cleared = 0;
    for (const QString& name :
         dir.entryList({QStringLiteral("kx_*.lock")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QString base = OwnerBase(dir.filePath(name));
        {
            QMutexLocker locker(&g_ownersLock);
            if (g_owners.count(base)) continue;  // our own
        }
        CFileLock lock;
        // Held: its owner runs. Another user's: not ours to clear.
        if (lock.LockExisting(base + QStringLiteral(".lock"), 0) != CFileLock::Outcome::Locked) continue;
        if (ClearStaleOwner(base, lock)) ++cleared;
    }
    return cleared;
}

int RecoverInPlaceChanges(dev_t device, ino_t inode, const QString& folder) {
    const QDir dir(TempFolder(folder));
    QString problem;
    if (!IsPrivateFolder(dir.path(), &problem)) return 0;
    int recovered = 0;
    for (const QString& name :
         dir.entryList({QStringLiteral("kx_*.undo")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        InPlaceUndo undo;
        if (!ReadUndoRecord(dir.filePath(name), &undo) || undo.device != device || undo.inode != inode) continue;
        const QString base = OwnerBase(dir.filePath(name));
        CFileLock lock;
        if (lock.LockExisting(base + QStringLiteral(".lock"), 0) != CFileLock::Outcome::Locked) continue;
        if (ClearStaleOwner(base, lock)) ++recovered;
    }
    return recovered;
}

QString RandomNamePart() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString id;
    for (int i = 0; i < 6; ++i) id += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(62)]);
    return id;
}

bool RemoveFileQuietly(const QString& path) {
    if (path.isEmpty()) return true;
    QFile::remove(path);
    return !QFile::exists(path);
}
