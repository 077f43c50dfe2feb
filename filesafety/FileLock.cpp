#include "filesafety/FileLock.h"

#include "platform/LocalFileName.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kRetryMs = 25;

QMutex g_descriptionLock;
QString g_description;

// The process that holds a flock on the file `status` describes, from the
// system's table of locks: "process 1234 (kxloader /j ...)"; empty when none
// is listed.
QString HolderFromLockTable(const struct stat& status) {
    QFile table(QStringLiteral("/proc/locks"));
    if (!table.open(QIODevice::ReadOnly)) return QString();
    const QByteArray device = QByteArray::number(major(status.st_dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(minor(status.st_dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(static_cast<qulonglong>(status.st_ino));
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "1: FLOCK ADVISORY WRITE 1234 fd:01:567 0 EOF"
        if (fields.size() < 6 || fields[1] != "FLOCK" || fields[5] != device) continue;
        const QByteArray pid = fields[4];
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid)));
        QByteArray command;
        if (commandLine.open(QIODevice::ReadOnly)) command = commandLine.readAll().replace('\0', ' ').trimmed();
        return command.isEmpty() ? QStringLiteral("process %1").arg(QString::fromLatin1(pid))
                                 : QStringLiteral("process %1 (%2)").arg(QString::fromLatin1(pid),
                                                                         PrintableLocalName(DecodeLocalName(command)));
    }
    return QString();
}

}  // namespace

CFileLock::Outcome CFileLock::LockFile(const QString& path, int waitMs) { return Lock(path, waitMs, true); }

CFileLock::Outcome CFileLock::LockExisting(const QString& path, int waitMs) { return Lock(path, waitMs, false); }

CFileLock::Outcome CFileLock::Lock(const QString& path, int waitMs, bool create) {
    Unlock();
    m_holder.clear();
    m_error.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        // A lock file is only ever read or written through its descriptor;
        // the data file is opened for reading, or for writing when that is
        // all its permissions allow. Never through a link (a link named like
        // a lock file would lead our holder line into any file) and never
        // waiting (a FIFO would hold the open until someone writes to it).
        const int flags = O_NOFOLLOW | O_NONBLOCK;
        bool opened = m_file.Open(path, flags | (create ? O_RDWR | O_CREAT : O_RDONLY), 0600);
        // Another user's lock file, or a file only writable: a lock needs no
        // particular access.
        if (!opened && m_file.ErrorNumber() == EACCES) opened = m_file.Open(path, flags | (create ? O_RDONLY : O_WRONLY));
        if (!opened) {
            m_error = m_file.ErrorNumber() == ELOOP ? QStringLiteral("%1: it is a link, not a lock file").arg(path)
                                                    : m_file.Error();
            return Outcome::Failed;
        }
        struct stat opened_status;
        if (!m_file.Status(&opened_status) || !S_ISREG(opened_status.st_mode)) {
            m_error = m_file.ErrorNumber() ? m_file.Error() : QStringLiteral("%1: it is no regular file").arg(path);
            m_file.Close();
            return Outcome::Failed;
        }
        if (m_file.Lock()) {
            // The previous holder may have removed the file between our open
            // and our lock: then we hold a lock on a file nobody else finds.
            struct stat mine, named;
            if (m_file.Status(&mine) && LocalStatus(path, &named) && mine.st_dev == named.st_dev &&
                mine.st_ino == named.st_ino) {
                m_locked = true;
                return Outcome::Locked;
            }
            m_file.Close();
            continue;
        }
        if (m_file.ErrorNumber() != EWOULDBLOCK) {
            m_error = m_file.Error();
            m_file.Close();
            return Outcome::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            const QByteArray first = create ? Content().split('\n').value(0).trimmed() : QByteArray();
            m_holder = QString::fromUtf8(first);
            struct stat status;
            if (m_holder.isEmpty() && m_file.Status(&status)) m_holder = HolderFromLockTable(status);
            if (m_holder.isEmpty()) m_holder = QStringLiteral("another process");
            m_file.Close();
            return Outcome::Busy;
        }
        m_file.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
    }
}

QByteArray CFileLock::Content() {
    QByteArray bytes;
    const qint64 size = m_file.Size();
    if (size <= 0 || size > (1 << 20)) return bytes;
    bytes.resize(size);
    const qint64 got = m_file.ReadAt(0, bytes.data(), size);
    bytes.resize(got < 0 ? 0 : got);
    return bytes;
}

bool CFileLock::SetContent(const QByteArray& bytes) {
    // Only our own lock file with no other name is cut and written: one of
    // another user (or a hard link to some other file) keeps its bytes.
    struct stat status;
    if (!m_file.Status(&status)) return false;
    if (status.st_uid != ::geteuid() || status.st_nlink != 1) return false;
    return m_file.Resize(0) && m_file.WriteAt(0, bytes.constData(), bytes.size());
}

void CFileLock::Unlock(bool removeFile) {
    if (m_locked && removeFile) RemoveLocalFile(m_file.Path());
    m_file.Close();
    m_locked = false;
}

void SetLockHolderDescription(const QString& description) {
    QMutexLocker locker(&g_descriptionLock);
    g_description = description;
}

QString LockHolderDescription() {
    QMutexLocker locker(&g_descriptionLock);
    const QString process = QStringLiteral("kxloader process %1").arg(::getpid());
    return g_description.isEmpty() ? process : process + QStringLiteral(": ") + g_description;
}

QByteArray LockHolderLine() {
    return (LockHolderDescription() + QStringLiteral(", since %1")
                                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))))
               .toUtf8() +
           '\n';
}
