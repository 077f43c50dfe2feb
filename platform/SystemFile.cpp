#include "platform/SystemFile.h"

#include "platform/LocalFileName.h"
#include "platform/TestHooks.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
constexpr qint64 kCopyChunkBytes = 1 << 20;
}

CSystemFile::CSystemFile(CSystemFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)), m_errno(other.m_errno) {}

CSystemFile& CSystemFile::operator=(CSystemFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_errno = other.m_errno;
    }
    return *this;
}

bool CSystemFile::Fail() {
    m_errno = errno;
    return false;
}

bool CSystemFile::Open(const QString& path, int flags, mode_t mode) {
    Close();
    m_path = path;
    m_errno = 0;
    bool usable = false;
    const QByteArray bytes = EncodeLocalName(path, &usable);
    if (!usable || bytes.isEmpty()) {
        m_errno = bytes.isEmpty() ? ENOENT : EINVAL;
        return false;
    }
    do {
        m_fd = ::open(bytes.constData(), flags | O_CLOEXEC, mode);
    } while (m_fd < 0 && errno == EINTR);
    return m_fd >= 0 || Fail();
}

bool CSystemFile::Write(const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t done = ::write(m_fd, data, static_cast<size_t>(size));
        if (done < 0) {
            if (errno == EINTR) continue;
            return Fail();
        }
        data += done;
        size -= done;
    }
    return true;
}

bool CSystemFile::WriteAt(qint64 offset, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t done = ::pwrite(m_fd, data, static_cast<size_t>(size), offset);
        if (done < 0) {
            if (errno == EINTR) continue;
            return Fail();
        }
        data += done;
        size -= done;
        offset += done;
    }
    return true;
}

qint64 CSystemFile::ReadAt(qint64 offset, char* data, qint64 size) {
    qint64 total = 0;
    while (total < size) {
        const ssize_t got = ::pread(m_fd, data + total, static_cast<size_t>(size - total), offset + total);
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail();
            return -1;
        }
        if (got == 0) break;
        total += got;
    }
    return total;
}

bool CSystemFile::Reserve(qint64 offset, qint64 length) {
    if (length <= 0) return true;
    int result;
    do {
        result = ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, offset, length);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS) return Fail();
    // A file system that cannot reserve: at least the free space must do.
    struct statvfs space;
    if (::fstatvfs(m_fd, &space) != 0) return Fail();
    if (static_cast<qint64>(space.f_bavail) * static_cast<qint64>(space.f_frsize) >= length) return true;
    m_errno = ENOSPC;
    return false;
}

bool CSystemFile::Resize(qint64 size) {
    int result;
    do {
        result = ::ftruncate(m_fd, size);
    } while (result != 0 && errno == EINTR);
    return result == 0 || Fail();
}

bool CSystemFile::Sync() { return ::fdatasync(m_fd) == 0 || Fail(); }

bool CSystemFile::SetPermissions(mode_t mode) { return ::fchmod(m_fd, mode & 07777) == 0 || Fail(); }

bool CSystemFile::Status(struct stat* status) { return ::fstat(m_fd, status) == 0 || Fail(); }

qint64 CSystemFile::Size() {
    struct stat status;
    return Status(&status) ? static_cast<qint64>(status.st_size) : -1;
}

bool CSystemFile::Lock(bool wait) {
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    return result == 0 || Fail();
}

void CSystemFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

QString CSystemFile::Reason() const { return SystemErrorText(m_errno); }

QString CSystemFile::Error() const { return QStringLiteral("%1: %2").arg(m_path, Reason()); }

bool CopyFileBytes(CSystemFile& from, qint64 fromOffset, CSystemFile& to, qint64 toOffset, qint64 length,
                   const char* halfwayPoint) {
    // A test stops the copy at its middle; the copy then goes in two halves.
    const qint64 half = halfwayPoint && TestPointArmed(halfwayPoint) ? length / 2 : -1;
    QByteArray chunk;
    qint64 done = 0;
    while (done < length) {
        qint64 step = std::min(kCopyChunkBytes, length - done);
        if (half > 0 && done < half) step = std::min(step, half - done);
        loff_t in = fromOffset + done;
        loff_t out = toOffset + done;
        ssize_t copied = ::copy_file_range(from.Fd(), &in, to.Fd(), &out, static_cast<size_t>(step), 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOSYS) {
            // Which side failed: a full disk is the writing side's.
            if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT || errno == EROFS) to.SetFailure(errno);
            else from.SetFailure(errno);
            return false;
        }
        if (copied < 0) {
            // Not between these two files: through a buffer.
            chunk.resize(step);
            copied = from.ReadAt(fromOffset + done, chunk.data(), step);
            if (copied < 0) return false;
            if (copied > 0 && !to.WriteAt(toOffset + done, chunk.constData(), copied)) return false;
        }
        if (copied == 0) {
            from.SetFailure(EIO);  // the source ended before its announced size
            return false;
        }
        done += copied;
        if (half > 0 && done == half) PauseAtTestPoint(halfwayPoint);
    }
    return true;
}

bool LocalStatus(const QString& path, struct stat* status, bool followLinks) {
    bool usable = false;
    const QByteArray bytes = EncodeLocalName(path, &usable);
    if (!usable || bytes.isEmpty()) return false;
    return (followLinks ? ::stat(bytes.constData(), status) : ::lstat(bytes.constData(), status)) == 0;
}

bool RemoveLocalFile(const QString& path) {
    bool usable = false;
    const QByteArray bytes = EncodeLocalName(path, &usable);
    if (!usable || bytes.isEmpty()) return false;
    return ::unlink(bytes.constData()) == 0 || errno == ENOENT;
}

bool RenameLocalFile(const QString& from, const QString& to, int* error) {
    bool usableFrom = false, usableTo = false;
    const QByteArray a = EncodeLocalName(from, &usableFrom);
    const QByteArray b = EncodeLocalName(to, &usableTo);
    if (!usableFrom || !usableTo) {
        if (error) *error = EINVAL;
        return false;
    }
    if (::rename(a.constData(), b.constData()) == 0) return true;
    if (error) *error = errno;
    return false;
}

bool SyncFolderOf(const QString& path) {
    bool usable = false;
    const QByteArray folder = EncodeLocalName(FolderOf(path), &usable);
    if (!usable) return false;
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

QStringList ListLocalFolder(const QString& folder, const QString& prefix, const QString& suffix) {
    QStringList names;
    bool usable = false;
    const QByteArray bytes = EncodeLocalName(folder, &usable);
    if (!usable) return names;
    DIR* dir = ::opendir(bytes.isEmpty() ? "." : bytes.constData());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = DecodeLocalName(QByteArrayView(entry->d_name, qsizetype(std::strlen(entry->d_name))));
        if (name.size() > prefix.size() + suffix.size() && name.startsWith(prefix) && name.endsWith(suffix))
            names << name;
    }
    ::closedir(dir);
    return names;
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QStringLiteral(".");
    if (slash == 0) return QStringLiteral("/");
    return path.left(slash);
}

QString NameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }
