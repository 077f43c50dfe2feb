#include "exchange/StagedDownload.h"

#include "platform/TempFiles.h"

#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <system_error>

namespace {
constexpr qint64 kCopyChunkBytes = 1 << 20;

// Copies the whole of `from` (open for reading, at its start) into `to`.
bool CopyInto(QFile& from, QFileDevice& to) {
    QByteArray chunk;
    for (;;) {
        chunk = from.read(kCopyChunkBytes);
        if (chunk.isEmpty()) return from.error() == QFileDevice::NoError && from.atEnd();
        if (to.write(chunk) != chunk.size()) return false;
    }
}
}  // namespace

QString PartialFileName(const QString& target) { return target + QStringLiteral(".partial"); }

QString CannotWriteDetail(const QString& path, const QString& reason) {
    return reason.isEmpty() ? QStringLiteral("cannot write the file %1").arg(path)
                            : QStringLiteral("cannot write the file %1: %2").arg(path, reason);
}

QString KeptFilesNote(const QString& target, const QString& kept, qint64 count, const QString& items) {
    if (kept.isEmpty()) return QStringLiteral("; %1 left as it was").arg(target);
    return QStringLiteral("; %1 left as it was, the %2 %3 received are in %4").arg(target).arg(count).arg(items, kept);
}

bool CStagedDownload::Open(const QString& target, TextFileMode mode, const CodePage::CCodec& codec) {
    Abandon();
    m_target = target;
    m_mode = mode;
    m_codec = codec;
    m_writeFailed = false;
    m_error.clear();
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir() || (targetInfo.exists() && !targetInfo.isWritable())) {
        m_error = targetInfo.isDir() ? QStringLiteral("it is a folder") : QStringLiteral("it is read-only");
        return false;
    }
    m_staging.setFileName(PartialFileName(target));
    if (m_staging.open(QIODevice::WriteOnly | QIODevice::Truncate)) return true;
    m_error = m_staging.errorString();
    // A writable file in a folder that takes no new files: stage in the
    // temporary folder and write the target in place at the end.
    if (!targetInfo.exists()) return false;
    const QString temporary = CreateKxTempFile();
    if (temporary.isEmpty()) return false;
    m_staging.setFileName(temporary);
    if (m_staging.open(QIODevice::WriteOnly | QIODevice::Truncate)) return true;
    RemoveFileQuietly(temporary);
    return false;
}

bool CStagedDownload::Write(QStringView text) { return WriteRaw(ToCrLf(m_codec.Encode(text))); }

bool CStagedDownload::WriteRecord(const QString& record) {
    // One record, one line: a line break inside a record (a garbled answer)
    // would turn it into two lines, which the journal view shows as two rows
    // and an upload of the file sends back as two records.
    QString line = record;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return Write(line + QLatin1Char('\n'));
}

bool CStagedDownload::WriteRaw(const QByteArray& bytes) {
    if (!m_staging.isOpen() || m_writeFailed) return false;
    if (m_staging.write(bytes) != bytes.size()) {
        m_writeFailed = true;
        m_error = m_staging.errorString();
    }
    return !m_writeFailed;
}

bool CStagedDownload::Fail(const QFileDevice& file) {
    m_error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
    return false;
}

bool CStagedDownload::ReplaceTarget() {
    // Renaming over the target swaps the whole file at once; a link is
    // written through instead, so it keeps pointing where it did.
    if (!QFileInfo(m_target).isSymLink()) {
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(m_staging.fileName()).toStdString(),
                                QFile::encodeName(m_target).toStdString(), error);
        if (!error) return true;
    }
    QFile staged(m_staging.fileName());
    if (!staged.open(QIODevice::ReadOnly)) return Fail(staged);
    QSaveFile target(m_target);
    target.setDirectWriteFallback(true);
    if (!target.open(QIODevice::WriteOnly)) return Fail(target);
    if (!CopyInto(staged, target)) {
        target.cancelWriting();
        return Fail(target);
    }
    if (!target.commit()) return Fail(target);
    staged.close();
    RemoveFileQuietly(staged.fileName());
    return true;
}

bool CStagedDownload::AppendToTarget() {
    QFile staged(m_staging.fileName());
    if (!staged.open(QIODevice::ReadOnly)) return Fail(staged);
    const bool existed = QFileInfo::exists(m_target);
    QFile target(m_target);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Append)) return Fail(target);
    const qint64 before = target.size();
    if (!CopyInto(staged, target) || !target.flush()) {
        Fail(target);
        // Take back what was appended: the target stays as it was.
        if (existed) target.resize(before);
        target.close();
        if (!existed) RemoveFileQuietly(m_target);
        return false;
    }
    target.close();
    staged.close();
    RemoveFileQuietly(staged.fileName());
    return true;
}

bool CStagedDownload::Commit() {
    if (!m_staging.isOpen()) return false;
    const bool flushed = m_staging.flush();
    m_staging.close();
    if (m_writeFailed || !flushed || m_staging.error() != QFileDevice::NoError) {
        if (m_error.isEmpty()) m_error = m_staging.errorString();
        return false;
    }
    return m_mode == TextFileMode::Append ? AppendToTarget() : ReplaceTarget();
}

QString CStagedDownload::Abandon() {
    if (m_staging.isOpen()) m_staging.close();
    const QString path = m_staging.fileName();
    if (path.isEmpty() || !QFileInfo::exists(path)) return QString();
    if (QFileInfo(path).size() == 0) {
        RemoveFileQuietly(path);
        return QString();
    }
    return path;
}
