#include "exchange/StagedDownload.h"

#include "platform/SystemFile.h"

#include <sys/stat.h>

#include <algorithm>

QString PartialFileName(const QString& target) { return target + QStringLiteral(".partial"); }

QString CannotWriteDetail(const QString& path, const QString& reason) {
    return reason.isEmpty() ? QStringLiteral("cannot write the file %1").arg(path)
                            : QStringLiteral("cannot write the file %1: %2").arg(path, reason);
}

bool CStagedDownload::Open(const QString& target, TextFileMode mode, const CodePage::CCodec& codec) {
    m_mode = mode;
    m_codec = codec;
    return m_writer.Open(target);
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

bool CStagedDownload::WriteRecordWindows1251(QByteArrayView record) {
    if (!m_codec.IsWindows1251()) return WriteRecord(CodePage::FromWindows1251(record.data(), record.size()));
    const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    if (std::none_of(record.begin(), record.end(), isBreak))
        return m_writer.Write(record.data(), record.size()) && m_writer.Write("\r\n", 2);
    // As WriteRecord: CR LF, a lone CR and a lone LF each become a space.
    QByteArray line;
    line.reserve(record.size() + 2);
    for (qsizetype i = 0; i < record.size(); ++i) {
        if (!isBreak(record[i])) {
            line += record[i];
            continue;
        }
        if (record[i] == '\r' && i + 1 < record.size() && record[i + 1] == '\n') ++i;
        line += ' ';
    }
    line += "\r\n";
    return m_writer.Write(line.constData(), line.size());
}

bool CStagedDownload::WriteRaw(const QByteArray& bytes) { return m_writer.Write(bytes); }

bool CStagedDownload::Commit(int waitMs) {
    const CTargetWriter::Mode mode =
        m_mode == TextFileMode::Append ? CTargetWriter::Mode::Append : CTargetWriter::Mode::Replace;
    if (!m_writer.Commit(mode, waitMs)) return false;
    // The lines an earlier failure kept are now in the target: no longer
    // needed beside it. A folder of that name is not ours to remove.
    struct stat status;
    const QString partial = PartialFileName(Target());
    if (LocalStatus(partial, &status, false) && S_ISREG(status.st_mode)) RemoveLocalFile(partial);
    return true;
}

QString CStagedDownload::Abandon() {
    m_kept = m_writer.Abandon(PartialFileName(Target()));
    return m_kept;
}

QString CStagedDownload::CannotWriteDetail() const {
    return ::CannotWriteDetail(m_writer.ErrorPath(), m_writer.ErrorReason());
}

QString CStagedDownload::KeptNote(qint64 count, const QString& items) {
    const bool intact = m_writer.TargetIntact();
    const QString kept = Abandon();
    // The reason has said already what became of a target not yet put back.
    if (!intact) return QString();
    if (kept.isEmpty()) return QStringLiteral("; %1 left as it was").arg(Target());
    return QStringLiteral("; %1 left as it was, the %2 %3 received are in %4").arg(Target()).arg(count).arg(items, kept);
}
