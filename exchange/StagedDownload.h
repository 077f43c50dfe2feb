#pragma once
// A download into a file the user keeps (the journal, the count file, the info
// table). What arrives goes into "<target>.partial" beside the target; only a
// download that succeeded replaces the target or is appended to it. A failed
// one leaves the target byte for byte as it was and keeps the lines received
// in the .partial file, for a person to look at.

#include "platform/CodePage.h"
#include "platform/TextFile.h"

#include <QFile>
#include <QString>

class CStagedDownload {
public:
    CStagedDownload() = default;
    ~CStagedDownload() { Abandon(); }
    CStagedDownload(const CStagedDownload&) = delete;
    CStagedDownload& operator=(const CStagedDownload&) = delete;

    // Starts the staging file (a leftover one from an earlier failure is
    // replaced). False when neither it nor the target can be written; the
    // reason is in ErrorString().
    bool Open(const QString& target, TextFileMode mode, const CodePage::CCodec& codec);
    // Writes `text` in the code page, "\n" as CR LF.
    bool Write(QStringView text);
    // Writes one received record as one line ("\n" after it); a line break
    // inside the record becomes a space.
    bool WriteRecord(const QString& record);
    // Writes bytes as they stand.
    bool WriteRaw(const QByteArray& bytes);
    // Replaces the target with what was written (Replace) or appends it
    // (Append), then removes the staging file. False when the target could
    // not be written: it is then as it was and the staging file is kept.
    bool Commit();
    // Ends a failed download: the target is untouched. Returns the staging
    // file that keeps what arrived, or an empty text when nothing arrived
    // (the empty staging file is removed).
    QString Abandon();

    const QString& Target() const { return m_target; }
    QString StagingPath() const { return m_staging.fileName(); }
    QString ErrorString() const { return m_error; }

private:
    bool Fail(const QFileDevice& file);
    bool ReplaceTarget();
    bool AppendToTarget();

    QString m_target;
    TextFileMode m_mode = TextFileMode::Replace;
    CodePage::CCodec m_codec;
    QFile m_staging;
    bool m_writeFailed = false;
    QString m_error;
};

// The name a failed download's lines are kept under: "<target>.partial".
QString PartialFileName(const QString& target);

// For the failure detail of a download: "cannot write the file F: reason".
QString CannotWriteDetail(const QString& path, const QString& reason);
// "; F left as it was, the N <items> received are in P" (no second part when
// nothing was kept).
QString KeptFilesNote(const QString& target, const QString& kept, qint64 count, const QString& items);
