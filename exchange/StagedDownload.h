#pragma once
// A download into a file the user keeps (the journal, the count file, the info
// table). What arrives goes into a staging file of this run's own beside the
// target; only a download that succeeded replaces the target or is appended
// to it, under the target's lock, so two runs never mix their lines and a
// kill at any instant leaves the old file or the whole new one
// (filesafety/TargetWriter.h). A failed download leaves the target byte for byte
// as it was and keeps the lines received in "<target>.partial", for a person
// to look at.

#include "platform/CodePage.h"
#include "filesafety/TargetWriter.h"
#include "platform/TextFile.h"

#include <QString>

// How long a download waits for another run that is writing the same file
// before it gives up with the file's error (the setting "BusyFileWait").
inline constexpr int kDefaultBusyFileWaitMs = 30000;

class CStagedDownload {
public:
    CStagedDownload() = default;
    ~CStagedDownload() { Abandon(); }
    CStagedDownload(const CStagedDownload&) = delete;
    CStagedDownload& operator=(const CStagedDownload&) = delete;

    // Starts the staging file. False when the target cannot be written; the
    // file and the reason are in CannotWriteDetail().
    bool Open(const QString& target, TextFileMode mode, const CodePage::CCodec& codec);
    // Writes `text` in the code page, "\n" as CR LF.
    bool Write(QStringView text);
    // Writes one received record as one line ("\n" after it); a line break
    // inside the record becomes a space.
    bool WriteRecord(const QString& record);
    // The same for a record received in Windows-1251: written as it stands
    // where the file keeps that page, converted where it keeps another.
    bool WriteRecordWindows1251(QByteArrayView record);
    // Writes bytes as they stand.
    bool WriteRaw(const QByteArray& bytes);
    // Replaces the target with what was written, or appends it, waiting up
    // to `waitMs` for another run writing the same target; then removes the
    // .partial of an earlier failure. False: the target is as it was
    // (Busy() when another run kept it).
    bool Commit(int waitMs = kDefaultBusyFileWaitMs);
    // A record the commit keeps with the target (CTargetWriter::CommitRecord).
    void SetCommitRecord(CTargetWriter::CommitRecord record) { m_writer.SetCommitRecord(std::move(record)); }
    // Ends a failed download: the target is untouched. Returns the file that
    // keeps what arrived, or an empty text when nothing arrived.
    QString Abandon();

    const QString& Target() const { return m_writer.Target(); }
    bool Busy() const { return m_writer.Busy(); }
    // "cannot write the file F: reason", F being the file that failed.
    QString CannotWriteDetail() const;
    // Ends the download (Abandon) and says what became of the target and of
    // the `count` `items` received: "; T left as it was, the N line(s)
    // received are in P".
    QString KeptNote(qint64 count, const QString& items);
    // The file Abandon() kept what arrived in; empty when nothing was kept.
    const QString& KeptFile() const { return m_kept; }

private:
    TextFileMode m_mode = TextFileMode::Replace;
    CodePage::CCodec m_codec;
    CTargetWriter m_writer;
    QString m_kept;
};

// The name a failed download's lines are kept under: "<target>.partial".
QString PartialFileName(const QString& target);

// For the failure detail of a download: "cannot write the file F: reason".
QString CannotWriteDetail(const QString& path, const QString& reason);
