#pragma once
// A file descriptor with the system's own words for every failure. The files
// a user keeps are written through this, not through QFile: QFile buffers a
// write and loses its reason when the file is closed (a full disk then reads
// "Unknown error"), cannot reserve space, cannot lock, and cannot reach a name
// that is not UTF-8 (platform/LocalFileName.h).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <sys/types.h>

class CSystemFile {
public:
    CSystemFile() = default;
    ~CSystemFile() { Close(); }
    CSystemFile(CSystemFile&& other) noexcept;
    CSystemFile& operator=(CSystemFile&& other) noexcept;
    CSystemFile(const CSystemFile&) = delete;
    CSystemFile& operator=(const CSystemFile&) = delete;

    // open(2) with `flags` (O_CLOEXEC is always added).
    bool Open(const QString& path, int flags, mode_t mode = 0666);
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    const QString& Path() const { return m_path; }

    // The whole of `data` at the current position (or at `offset`).
    bool Write(const char* data, qint64 size);
    bool Write(const QByteArray& data) { return Write(data.constData(), data.size()); }
    bool WriteAt(qint64 offset, const char* data, qint64 size);
    // Up to `size` bytes from `offset`; -1 on failure, less at the end.
    qint64 ReadAt(qint64 offset, char* data, qint64 size);
    // Makes sure the bytes `offset`..`offset + length` can be written without
    // the disk running out, leaving the file's size and bytes as they are.
    bool Reserve(qint64 offset, qint64 length);
    bool Resize(qint64 size);
    bool Sync();
    bool SetPermissions(mode_t mode);
    bool Status(struct stat* status);
    qint64 Size();
    // An exclusive advisory lock (flock): false at once when another open
    // file holds it (ErrorNumber() EWOULDBLOCK), unless `wait`.
    bool Lock(bool wait = false);
    void Close();

    // The last failure: its errno, the system's words for it, and
    // "<path>: <words>".
    int ErrorNumber() const { return m_errno; }
    QString Reason() const;
    QString Error() const;
    // Records a failure of this file found elsewhere (a copy's write side).
    void SetFailure(int error) { m_errno = error; }

private:
    bool Fail();

    int m_fd = -1;
    QString m_path;
    int m_errno = 0;
};

// Copies `length` bytes of `from` (from `fromOffset`) into `to` at `toOffset`,
// in the kernel where it can. On failure the failing side holds the reason.
// `halfway` runs once when half of the bytes are written (a test's kill point).
bool CopyFileBytes(CSystemFile& from, qint64 fromOffset, CSystemFile& to, qint64 toOffset, qint64 length,
                   const char* halfwayPoint = nullptr);

// lstat/stat by a local name; false when there is nothing there.
bool LocalStatus(const QString& path, struct stat* status, bool followLinks = true);
// unlink(2) of a local name; true when nothing is left there.
bool RemoveLocalFile(const QString& path);
// rename(2) of local names; on failure `error` (when given) holds errno.
bool RenameLocalFile(const QString& from, const QString& to, int* error = nullptr);
// Makes the folder of `path` durable (its entries, such as a rename just
// made), so a power cut cannot bring back the old name. False when the
// system refuses; nothing can be done about that but to say so.
bool SyncFolderOf(const QString& path);
// The names in `folder` that begin with `prefix` and end with `suffix`, read
// as the system has them (any bytes).
QStringList ListLocalFolder(const QString& folder, const QString& prefix, const QString& suffix);
// The folder part of `path` ("." when it has none) and its last part.
QString FolderOf(const QString& path);
QString NameOf(const QString& path);
