#include "filesafety/InPlaceChange.h"

#include "platform/LocalFileName.h"
#include "platform/SystemFile.h"

#include <QList>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kRecordHeader[] = "kxconfig in-place change 1";

// Paths go into the record as the hex of their bytes: any name survives.
QByteArray PathField(const QString& path) { return EncodeLocalName(path).toHex(); }
QString PathFromField(const QByteArray& field) { return DecodeLocalName(QByteArray::fromHex(field)); }

// A file this process may take as one of its own: a regular file (a FIFO
// would hold the open, a device is nobody's record) of this user. Opened
// without following a link and without waiting.
bool OpenOwnFile(CSystemFile& file, const QString& path, int flags, struct stat* status) {
    if (!file.Open(path, flags | O_NOFOLLOW | O_NONBLOCK) || !file.Status(status)) return false;
    if (S_ISREG(status->st_mode) && status->st_uid == ::geteuid()) return true;
    file.Close();
    return false;
}

}  // namespace

bool WriteUndoRecord(const QString& path, const InPlaceUndo& undo, QString* error) {
    QByteArray text = QByteArray(kRecordHeader) + '\n';
    text += "target=" + PathField(undo.target) + '\n';
    text += "device=" + QByteArray::number(static_cast<qulonglong>(undo.device)) + '\n';
    text += "inode=" + QByteArray::number(static_cast<qulonglong>(undo.inode)) + '\n';
    text += "size=" + QByteArray::number(undo.size) + '\n';
    text += "backup=" + PathField(undo.backup) + '\n';
    CSystemFile file;
    // The record must be whole on disk before the first byte of the change.
    // Its name is reserved by our temporary file: anything already there was
    // put there by someone else.
    if (file.Open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600) && file.Write(text) && file.Sync())
        return true;
    if (error) *error = file.Error();
    return false;
}

bool ReadUndoRecord(const QString& path, InPlaceUndo* undo) {
    CSystemFile file;
    struct stat status;
    // Only a record we wrote ourselves is acted on: another user's, or one
    // anybody else could have changed, may name any file.
    if (!OpenOwnFile(file, path, O_RDONLY, &status) || (status.st_mode & 07777) != 0600) return false;
    QByteArray text(4096, '\0');
    const qint64 got = file.ReadAt(0, text.data(), text.size());
    if (got <= 0) return false;
    text.resize(got);
    const QList<QByteArray> lines = text.split('\n');
    // A record cut short by a kill while it was written names no change:
    // nothing was changed before it was whole.
    if (lines.size() < 7 || lines[0] != kRecordHeader) return false;
    InPlaceUndo read;
    bool complete = true;
    const auto field = [&](int i, const char* key) {
        const QByteArray prefix = QByteArray(key) + '=';
        if (!lines[i].startsWith(prefix)) complete = false;
        return lines[i].mid(prefix.size());
    };
    read.target = PathFromField(field(1, "target"));
    read.device = static_cast<dev_t>(field(2, "device").toULongLong());
    read.inode = static_cast<ino_t>(field(3, "inode").toULongLong());
    bool sized = false;
    read.size = field(4, "size").toLongLong(&sized);
    read.backup = PathFromField(field(5, "backup"));
    if (!complete || !sized || read.target.isEmpty()) return false;
    *undo = read;
    return true;
}

bool ApplyUndo(const InPlaceUndo& undo, QString* error, bool onlyOwnTarget) {
    CSystemFile target;
    // The record names the real file, never a link (a link put there since
    // would lead the old bytes elsewhere).
    if (!target.Open(undo.target, O_RDWR | O_NOFOLLOW | O_NONBLOCK)) {
        // Gone, or something that is no file of ours now has the name.
        if (target.ErrorNumber() == ENOENT || target.ErrorNumber() == ELOOP || target.ErrorNumber() == ENXIO)
            return true;
        if (error) *error = target.Error();
        return false;
    }
    struct stat status;
    if (!target.Status(&status)) {
        if (error) *error = target.Error();
        return false;
    }
    // Another file now has that name: the change was never made to it. A
    // record left by a run that has ended touches only a file of this user.
    if (!S_ISREG(status.st_mode) || status.st_dev != undo.device || status.st_ino != undo.inode ||
        (onlyOwnTarget && status.st_uid != ::geteuid()))
        return true;
    if (!undo.backup.isEmpty()) {
        CSystemFile backup;
        struct stat kept;
        if (!OpenOwnFile(backup, undo.backup, O_RDONLY, &kept)) {
            if (error) *error = backup.ErrorNumber() ? backup.Error() : undo.backup + QStringLiteral(": not a file of ours");
            return false;
        }
        if (!CopyFileBytes(backup, 0, target, 0, undo.size)) {
            if (error) *error = backup.ErrorNumber() ? backup.Error() : target.Error();
            return false;
        }
    }
    const bool done = (status.st_size <= undo.size && undo.backup.isEmpty()) ||
                      (target.Resize(undo.size) && target.Sync());
    if (!done && error) *error = target.Error();
    return done;
}
