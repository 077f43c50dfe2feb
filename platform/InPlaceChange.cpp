#include "platform/InPlaceChange.h"

#include "platform/LocalFileName.h"
#include "platform/SystemFile.h"

#include <QList>

#include <cerrno>

#include <fcntl.h>

namespace {

constexpr char kRecordHeader[] = "kxconfig in-place change 1";

// Paths go into the record as the hex of their bytes: any name survives.
QByteArray PathField(const QString& path) { return EncodeLocalName(path).toHex(); }
QString PathFromField(const QByteArray& field) { return DecodeLocalName(QByteArray::fromHex(field)); }

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
    if (file.Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600) && file.Write(text) && file.Sync()) return true;
    if (error) *error = file.Error();
    return false;
}

bool ReadUndoRecord(const QString& path, InPlaceUndo* undo) {
    CSystemFile file;
    if (!file.Open(path, O_RDONLY)) return false;
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

bool ApplyUndo(const InPlaceUndo& undo, QString* error) {
    CSystemFile target;
    if (!target.Open(undo.target, O_RDWR)) {
        if (target.ErrorNumber() == ENOENT) return true;
        if (error) *error = target.Error();
        return false;
    }
    struct stat status;
    if (!target.Status(&status)) {
        if (error) *error = target.Error();
        return false;
    }
    // Another file now has that name: the change was never made to it.
    if (status.st_dev != undo.device || status.st_ino != undo.inode) return true;
    if (!undo.backup.isEmpty()) {
        CSystemFile backup;
        if (!backup.Open(undo.backup, O_RDONLY)) {
            if (error) *error = backup.Error();
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
