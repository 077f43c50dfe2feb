#include "exchange/TerminalRecords.h"

#include "filesafety/FileLock.h"
#include "platform/SystemFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A record is read and written in a moment; a run that holds it longer is
// stuck, and this one gives up rather than wait for ever.
constexpr int kRecordLockWaitMs = 10000;

QString Encoded(const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); }
QString Decoded(const QString& text) { return QUrl::fromPercentEncoding(text.toLatin1()); }

// The record's lines:
//   reset-owed
//   journal <ranges> <file>
//   pending <ranges> <device> <inode> <size> <file>
// ranges as "1-500,502" (CNumberRanges), numbers in decimal, the file
// percent-encoded (it may hold blanks or line breaks).
CNumberRanges RangesOf(const QByteArray& text) {
    CNumberRanges ranges;
    CNumberRanges::Parse(QString::fromLatin1(text), &ranges);
    return ranges;
}
}  // namespace

QString CTerminalRecords::FileKey(const QString& file) {
    return QDir::cleanPath(QFileInfo(file).absoluteFilePath());
}

QString CTerminalRecords::RecordPath(const QString& terminal) const {
    // A name no folder entry can misread: no '/', no leading dot.
    QString name = QString::fromLatin1(QUrl::toPercentEncoding(terminal, QByteArray(), "."));
    if (name.isEmpty()) name = QStringLiteral("%00");
    return m_folder + QLatin1Char('/') + name + QStringLiteral(".terminal");
}

QString CTerminalRecords::LockPath(const QString& terminal) const {
    QString path = RecordPath(terminal);
    path.chop(int(sizeof("terminal")) - 1);
    return path + QStringLiteral("lock");
}

bool CTerminalRecords::EnsureFolder(QString* error) const {
    const QByteArray path = QFile::encodeName(m_folder);
    const auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("%1: %2").arg(m_folder, why);
        return false;
    };
    struct stat status;
    if (::lstat(path.constData(), &status) != 0) {
        if (errno != ENOENT) return fail(QString::fromLocal8Bit(std::strerror(errno)));
        // Its parents are the user's (the program folder, ~/.local/state).
        const QString parent = QFileInfo(m_folder).absolutePath();
        if (!QDir().mkpath(parent)) return fail(QStringLiteral("cannot create %1").arg(parent));
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        if (::lstat(path.constData(), &status) != 0) return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    // What others could plant files in, or point elsewhere, is not ours.
    if (!S_ISDIR(status.st_mode)) return fail(QStringLiteral("not a folder (a link or a file is in its place)"));
    if (status.st_uid != ::geteuid()) return fail(QStringLiteral("the folder belongs to another user"));
    if (status.st_mode & 0022) return fail(QStringLiteral("the folder may be written by others"));
    return true;
}

CTerminalRecords::Terminal CTerminalRecords::Read(const QString& terminal) const {
    Terminal record;
    CSystemFile file;
    if (!file.Open(RecordPath(terminal), O_RDONLY | O_NOFOLLOW | O_NONBLOCK)) return record;
    struct stat status;
    if (!file.Status(&status) || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) return record;
    QByteArray bytes(static_cast<qsizetype>(std::min<off_t>(status.st_size, 16 << 20)), Qt::Uninitialized);
    const qint64 got = file.ReadAt(0, bytes.data(), bytes.size());
    if (got < 0) return record;
    bytes.truncate(got);
    for (const QByteArray& raw : bytes.split('\n')) {
        const QList<QByteArray> words = raw.trimmed().split(' ');
        if (words.value(0) == "reset-owed") {
            record.resetOwed = true;
        } else if (words.value(0) == "journal" && words.size() == 3) {
            Journal j;
            j.file = Decoded(QString::fromLatin1(words[2]));
            j.held = RangesOf(words[1]);
            record.journals.append(j);
        } else if (words.value(0) == "pending" && words.size() == 6) {
            const QString name = Decoded(QString::fromLatin1(words[5]));
            auto it = std::find_if(record.journals.begin(), record.journals.end(),
                                   [&](const Journal& j) { return j.file == name; });
            if (it == record.journals.end()) it = record.journals.insert(record.journals.end(), {name});
            it->pending = true;
            it->pendingHeld = RangesOf(words[1]);
            it->device = static_cast<dev_t>(words[2].toULongLong());
            it->inode = static_cast<ino_t>(words[3].toULongLong());
            it->size = words[4].toLongLong();
        }
    }
    return record;
}

bool CTerminalRecords::Write(const QString& terminal, const Terminal& record, QString* error) const {
    QByteArray bytes;
    if (record.resetOwed) bytes += "reset-owed\n";
    for (const Journal& j : record.journals) {
        const QByteArray name = Encoded(j.file).toLatin1();
        if (!j.held.IsEmpty()) bytes += "journal " + j.held.Text().toLatin1() + ' ' + name + '\n';
        if (j.pending && !j.pendingHeld.IsEmpty())
            bytes += "pending " + j.pendingHeld.Text().toLatin1() + ' ' +
                     QByteArray::number(static_cast<qulonglong>(j.device)) + ' ' +
                     QByteArray::number(static_cast<qulonglong>(j.inode)) + ' ' + QByteArray::number(j.size) + ' ' +
                     name + '\n';
    }
    const QString path = RecordPath(terminal);
    if (bytes.isEmpty()) {
        if (RemoveLocalFile(path)) return SyncFolderOf(path) || true;
        if (error) *error = QStringLiteral("cannot remove %1").arg(path);
        return false;
    }
    const QString temporary =
        path + QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    CSystemFile file;
    const auto fail = [&](const CSystemFile& failed) {
        if (error) *error = failed.Error();
        RemoveLocalFile(temporary);
        return false;
    };
    if (!file.Open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600)) return fail(file);
    if (!file.Write(bytes) || !file.Sync()) return fail(file);
    file.Close();
    int renameError = 0;
    if (!RenameLocalFile(temporary, path, &renameError)) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(renameError)));
        RemoveLocalFile(temporary);
        return false;
    }
    // Durable before anyone acts on it: a clear is sent only after this.
    SyncFolderOf(path);
    return true;
}

template <typename Change>
bool CTerminalRecords::Update(const QString& terminal, Change change, QString* error) const {
    if (!Keeps()) return true;
    if (!EnsureFolder(error)) return false;
    CFileLock lock;
    if (lock.LockFile(LockPath(terminal), kRecordLockWaitMs) != CFileLock::Outcome::Locked) {
        if (error)
            *error = lock.Error().isEmpty() ? QStringLiteral("%1 is held by %2").arg(lock.Path(), lock.Holder())
                                            : lock.Error();
        return false;
    }
    Terminal record = Read(terminal);
    const bool settled = Settle(record);
    if (!change(record) && !settled) return true;
    return Write(terminal, record, error);
}

bool CTerminalRecords::Settle(Terminal& record) {
    bool any = false;
    for (Journal& j : record.journals) {
        if (!j.pending) continue;
        struct stat status;
        const bool happened = LocalStatus(j.file, &status) && status.st_dev == j.device &&
                              status.st_ino == j.inode && status.st_size == j.size;
        if (happened) j.held = j.pendingHeld;
        j.pending = false;
        any = true;
    }
    return any;
}

bool CTerminalRecords::AnyResetOwed() const {
    if (!Keeps()) return false;
    for (const QString& name : ListLocalFolder(m_folder, QString(), QStringLiteral(".terminal"))) {
        CSystemFile file;
        if (!file.Open(m_folder + QLatin1Char('/') + name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK)) continue;
        char head[11] = {};
        if (file.ReadAt(0, head, 10) == 10 && QByteArray(head, 10) == "reset-owed") return true;
    }
    return false;
}

bool CTerminalRecords::ResetOwed(const QString& terminal) const { return Keeps() && Read(terminal).resetOwed; }

bool CTerminalRecords::NoteResetOwed(const QString& terminal, QString* error) const {
    return Update(
        terminal,
        [](Terminal& r) {
            const bool changed = !r.resetOwed;
            r.resetOwed = true;
            return changed;
        },
        error);
}

bool CTerminalRecords::DropResetOwed(const QString& terminal) const {
    return Update(
        terminal,
        [](Terminal& r) {
            const bool changed = r.resetOwed;
            r.resetOwed = false;
            return changed;
        },
        nullptr);
}

CNumberRanges CTerminalRecords::Held(const QString& terminal, const QString& file) const {
    if (!Keeps()) return {};
    Terminal record = Read(terminal);
    Settle(record);
    const QString key = FileKey(file);
    for (const Journal& j : record.journals)
        if (j.file == key) return j.held;
    return {};
}

CNumberRanges CTerminalRecords::HeldAnywhere(const QString& terminal) const {
    if (!Keeps()) return {};
    Terminal record = Read(terminal);
    Settle(record);
    CNumberRanges all;
    for (const Journal& j : record.journals) all.Add(j.held);
    return all;
}

bool CTerminalRecords::NoteCommit(const QString& terminal, const QString& file, const CNumberRanges& held,
                                  dev_t device, ino_t inode, qint64 size, QString* error) const {
    const QString key = FileKey(file);
    return Update(
        terminal,
        [&](Terminal& r) {
            auto it = std::find_if(r.journals.begin(), r.journals.end(), [&](const Journal& j) { return j.file == key; });
            if (it == r.journals.end()) it = r.journals.insert(r.journals.end(), {key});
            it->pending = true;
            it->pendingHeld = held;
            it->device = device;
            it->inode = inode;
            it->size = size;
            return true;
        },
        error);
}

bool CTerminalRecords::ConfirmCommit(const QString& terminal, const QString& file) const {
    Q_UNUSED(file);
    // Settling looks at the file, which now is the one noted.
    return Update(terminal, [](Terminal&) { return false; }, nullptr);
}
