#include "exchange/JournalDownload.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/TerminalAnswer.h"
#include "platform/Clock.h"
#include "platform/LeadingInteger.h"

#include <QDir>
#include <QStringList>

namespace {

constexpr QChar kEndOfStream = QChar(0x0004);
// The same end marker in Windows-1251.
constexpr QByteArrayView kEndOfStreamByte("\x04", 1);

QString CannotOpenText() { return QStringLiteral("Не могу открыть файл на запись журнала!"); }
QString CountFailedText() { return QStringLiteral("Ошибка обмена! Команда запроса кол-ва строк в журнале"); }
QString ShortJournalText() {
    return QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!");
}
QString LinesWord() { return QStringLiteral("line(s)"); }

// What the message box adds when a failed download kept the lines that had
// arrived: where they are, and that the journal file is as it was.
QString KeptLinesMessage(const QString& kept, qint64 lines) {
    if (kept.isEmpty()) return QString();
    return QStringLiteral("\n\nПолученные строки журнала (%1) сохранены в файле:\n%2\nФайл журнала не изменен.")
        .arg(lines)
        .arg(QDir::toNativeSeparators(kept));
}

}  // namespace

QString NoAnswerText() { return QStringLiteral("Ошибка обмена! Терминал не отвечает!"); }

CJournalDownload::CJournalDownload(JournalExchange& owner, CParlinkSession& session, const QString& port,
                                   const JournalDownloadOptions& options)
    : m_owner(owner),
      m_session(session),
      m_link(session.Link()),
      m_port(port),
      m_options(options),
      m_progress(owner.showMessages ? owner.progressWindow : nullptr),
      m_numbered(session.JournalSequence() && !owner.m_terminal.isEmpty()),
      m_records(owner.recordsFolder) {}

int CJournalDownload::Run() {
    if (const int ready = AskReady(); ready != ExchangeCode::kOk) return ready;
    if (const int clock = SetTerminalClock(); clock != ExchangeCode::kOk) return clock;
    if (m_options.filters.anySet) {
        if (const int set = SetFilters(); set != ExchangeCode::kOk) return set;
    }
    m_target = CurrentDirectoryFiles().journalFile;
    if (WaitsForLines()) {
        if (const int window = AskWindow(); window != ExchangeCode::kOk) return window;
    }
    if (const int count = AskLineCount(); count != ExchangeCode::kOk) return count;
    if (m_announced == 0) return FinishEmpty();
    if (WaitsForLines()) {
        if (const int numbers = AskNumbers(); numbers != ExchangeCode::kOk) return numbers;
    }
    if (const int opened = OpenFile(); opened != ExchangeCode::kOk) return opened;
    if (m_options.countOnly) return WriteCount();
    if (const int received = ReceiveLines(); received != ExchangeCode::kOk) return received;
    if (m_written != m_received) return ReportRefusedLines();
    return CommitAndEnd();
}

// The reset of a failure is quiet (its failure is the one to report); one the
// terminal does not confirm stays noted.
int CJournalDownload::Fail(int code, const QString& message, const QString& detail) {
    if (m_filtersSent) m_owner.ResetFiltersQuietly(m_link);
    return m_session.Fail(code, message, detail);
}

int CJournalDownload::AskReady() {
    if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("998"))))
        return m_session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    QString answer;
    if (!ParlinkSucceeded(m_link.Receive(&answer)))
        return m_session.Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Команда 998"));
    // "<ready flag>;<text>": a missing text is shown as an empty warning.
    const QStringList fields = SplitAnswer(answer);
    if (LeadingInteger(AnswerField(fields, 1)) == 1) return ExchangeCode::kOk;
    m_session.SetFailureDetail(
        QStringLiteral("the terminal on the port %1 is not ready: %2").arg(m_port, AnswerField(fields, 2)));
    m_session.Close();
    m_session.ShowWarning(AnswerField(fields, 2));
    return ExchangeCode::kTerminalNotReady;
}

int CJournalDownload::SetTerminalClock() {
    if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("999"))))
        return m_session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    Clock().SleepMs(200);
    if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("303"))))
        return m_session.Fail(ExchangeCode::kNoAnswer,
                              QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 303!"));
    Clock().SleepMs(200);
    if (!ParlinkSucceeded(m_link.SendData(TerminalTimeStamp())))
        return m_session.Fail(ExchangeCode::kNoAnswer,
                              QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 303(2)!"));
    Clock().SleepMs(400);
    return ExchangeCode::kOk;
}

int CJournalDownload::SetFilters() {
    // Too old a program takes no filter at all: nothing to note then.
    if (const int checked = m_owner.CheckFirmware(m_link); checked != ExchangeCode::kOk) {
        if (checked == ExchangeCode::kNoAnswer) m_owner.failureDetail += QStringLiteral(" (port %1)").arg(m_port);
        return m_session.End(checked);
    }
    if (m_numbered) {
        // The terminal drops these filters itself when the session ends,
        // however it ends: nothing to note, nothing to reset.
        if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("40T"))))
            return m_session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    } else {
        // Write-ahead: the reset is noted before the first filter goes, so a
        // run killed anywhere from here on leaves it owed.
        QString why;
        if (!m_records.NoteResetOwed(m_owner.m_terminal, &why))
            return m_session.Fail(ExchangeCode::kJournalFileNotCreated, CannotOpenText(),
                                  QStringLiteral("cannot write the record of the terminal %1 in %2: %3; the "
                                                 "filters were not sent")
                                      .arg(m_owner.m_terminal, m_records.Folder(), why));
        m_filtersSent = true;
    }
    if (const int sent = m_owner.SendFilters(m_link, &m_options.filters); sent != ExchangeCode::kOk) {
        m_owner.failureDetail += QStringLiteral(" (port %1)").arg(m_port);
        if (m_filtersSent) m_owner.ResetFiltersQuietly(m_link);
        m_session.Close();
        return sent;
    }
    return ExchangeCode::kOk;
}

// The scans this download covers: those the file does not hold yet
// (appending; a file replaced gets every scan the terminal keeps), up to the
// newest one the terminal has as the window is set. A scan made after that is
// the next download's. A replaced file's earlier scans were delivered too (the
// user took them with the file): they stay recorded, so a clear erases them.
int CJournalDownload::AskWindow() {
    m_held = m_records.Held(m_owner.m_terminal, m_target);
    QString answer;
    if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("02S"))) ||
        !ParlinkSucceeded(m_link.SendData(m_options.overwrite ? QString() : m_held.Text())) ||
        !ParlinkSucceeded(m_link.Receive(&answer)))
        return Fail(ExchangeCode::kNoAnswer, CountFailedText());
    // "L;F": the newest scan's number, the oldest one's still kept.
    const QStringList fields = answer.trimmed().split(QLatin1Char(';'));
    bool newestRead = false, oldestRead = false;
    const qint64 newest = fields.value(0).toLongLong(&newestRead);
    m_oldestKept = fields.value(1).toLongLong(&oldestRead);
    if (fields.size() != 2 || !newestRead || !oldestRead || newest < 0 || m_oldestKept < 1)
        return Fail(ExchangeCode::kNoAnswer, CountFailedText(),
                    QStringLiteral("the terminal on the port %1 answered the journal window with \"%2\"")
                        .arg(m_port, answer));
    return ExchangeCode::kOk;
}

int CJournalDownload::AskLineCount() {
    if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("020"))))
        return Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Ошибка отправлении команды 020!"));
    QString answer;
    if (!ParlinkSucceeded(m_link.Receive(&answer))) return Fail(ExchangeCode::kNoAnswer, CountFailedText());
    m_announced = LeadingInteger(answer);
    // A count below zero is no count: a garbled answer, not a journal to
    // write down (the count file would say "-2" and the run succeed).
    if (m_announced < 0)
        return Fail(ExchangeCode::kNoAnswer, CountFailedText(),
                    QStringLiteral("the terminal on the port %1 answered the line count with \"%2\"")
                        .arg(m_port, answer));
    return ExchangeCode::kOk;
}

int CJournalDownload::FinishEmpty() {
    if (m_filtersSent) m_owner.ResetFiltersQuietly(m_link);
    // Nothing new, but what this computer already holds may still be on
    // the terminal (a clear never confirmed): a clear asked for takes it.
    if (m_numbered && m_options.clearAfter) {
        const CNumberRanges erase = m_records.HeldAnywhere(m_owner.m_terminal);
        if (!erase.IsEmpty() && (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("00S"))) ||
                                 !ParlinkSucceeded(m_link.SendData(erase.Text())) ||
                                 !ParlinkSucceeded(m_link.WaitLink(kFilterWaitLinkMs))))
            return m_session.Fail(ExchangeCode::kNoAnswer, NoAnswerText(),
                                  QStringLiteral("the terminal on the port %1 did not confirm the clear of the "
                                                 "scans this computer holds")
                                      .arg(m_port));
    }
    m_session.SetFailureDetail(m_options.filters.anySet
                                   ? QStringLiteral("no journal lines on the terminal match the filters")
                                   : QStringLiteral("the terminal's journal is empty"));
    m_session.Close();
    m_session.ShowWarning(QStringLiteral("Ошибка! В терминале нет данных!"));
    return ExchangeCode::kJournalEmpty;
}

int CJournalDownload::AskNumbers() {
    QString answer;
    if (!ParlinkSucceeded(m_link.SendCommand(QStringLiteral("02L"))) || !ParlinkSucceeded(m_link.Receive(&answer)))
        return Fail(ExchangeCode::kNoAnswer, CountFailedText());
    if (!CNumberRanges::Parse(answer.trimmed(), &m_coming) || m_coming.Count() != m_announced)
        return Fail(ExchangeCode::kNoAnswer, CountFailedText(),
                    QStringLiteral("the terminal on the port %1 announced %2 journal lines but numbered \"%3\"")
                        .arg(m_port)
                        .arg(m_announced)
                        .arg(answer.left(200)));
    return ExchangeCode::kOk;
}

int CJournalDownload::OpenFile() {
    if (!m_file.Open(m_target, m_options.overwrite ? TextFileMode::Replace : TextFileMode::Append,
                     CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return Fail(ExchangeCode::kJournalFileNotCreated, CannotOpenText(), m_file.CannotWriteDetail());
    RecordCommit(m_announced);
    return ExchangeCode::kOk;
}

// The scans the file will hold are recorded with the commit that brings them
// (written ahead, settled by the file that is there): what it held, the first
// `received` of those coming, and everything older than the oldest scan still
// kept (gone from the terminal, so nothing to fetch).
void CJournalDownload::RecordCommit(qint64 received) {
    if (!WaitsForLines()) return;
    CNumberRanges after = m_held;
    after.Add(m_coming.First(received));
    after.FillBelow(m_oldestKept);
    m_file.SetCommitRecord({[records = m_records, terminal = m_owner.m_terminal, target = m_target, after](
                                dev_t device, ino_t inode, qint64 size, QString* error) {
                                return records.NoteCommit(terminal, target, after, device, inode, size, error);
                            },
                            [records = m_records, terminal = m_owner.m_terminal, target = m_target] {
                                records.ConfirmCommit(terminal, target);
                            }});
}

// The end of the exchange: the filters reset (those that outlive the
// session), the end heard. 0, or 4 with its message shown and the lines kept
// beside the target.
int CJournalDownload::EndExchange(bool sendEnd, qint64 kept) {
    int reset = ExchangeCode::kOk;
    if (m_filtersSent) {
        reset = m_owner.SendFilters(m_link, nullptr);  // shows its own message
        if (reset == ExchangeCode::kOk) m_owner.ForgetFilterReset();
    }
    const bool endSent =
        !sendEnd || (reset == ExchangeCode::kOk && ParlinkSucceeded(m_link.SendCommand(QStringLiteral("004"))));
    const bool closed = m_session.Close();
    if (reset == ExchangeCode::kOk && endSent && closed) return ExchangeCode::kOk;
    const QString why =
        reset != ExchangeCode::kOk
            ? m_owner.failureDetail + QStringLiteral(" (port %1)").arg(m_port)
            : QStringLiteral("the terminal on the port %1 did not confirm the end of the journal download").arg(m_port);
    m_session.SetFailureDetail(why + m_file.KeptNote(kept, LinesWord()));
    if (reset == ExchangeCode::kOk) m_session.ShowError(NoAnswerText() + KeptLinesMessage(m_file.KeptFile(), kept));
    return ExchangeCode::kNoAnswer;
}

// The count alone, without a line end: successive appended counts follow each
// other directly.
int CJournalDownload::WriteCount() {
    if (!m_file.WriteRaw(QByteArray::number(m_announced))) {
        const QString note = m_file.KeptNote(0, LinesWord());
        return Fail(ExchangeCode::kJournalFileNotCreated, CannotOpenText(), m_file.CannotWriteDetail() + note);
    }
    if (const int ended = EndExchange(false, 1); ended != ExchangeCode::kOk) return ended;
    if (!m_file.Commit(m_owner.busyFileWaitMs)) {
        const QString detail = m_file.CannotWriteDetail();
        const QString note = m_file.KeptNote(1, LinesWord());
        return m_session.Fail(ExchangeCode::kJournalFileNotCreated,
                              CannotOpenText() + KeptLinesMessage(m_file.KeptFile(), 1), detail + note);
    }
    return ExchangeCode::kOk;
}

int CJournalDownload::ReceiveLines() {
    if (!ParlinkSucceeded(m_link.SendCommand(m_options.journalIdOn ? QStringLiteral("031") : QStringLiteral("021"))))
        return Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Ошибка в отправлении команды 021!"));
    if (m_progress) m_progress->SetItemRange(m_announced);
    ITransferProgress* transfer = m_owner.transferProgress;
    if (transfer) transfer->Begin(QStringLiteral("journal"), m_announced);
    // Each line as the terminal keeps it, in Windows-1251 where it fits the
    // page: into a file of that page as it stands.
    QByteArrayView bytes;
    QString text;
    for (;;) {
        if (!ParlinkSucceeded(m_session.ReceiveWindows1251(&bytes, &text))) {
            const QString note = m_file.KeptNote(m_received, LinesWord());
            return Fail(ExchangeCode::kNoAnswer,
                        QStringLiteral("Ошибка обмена! Команда построчное получение журнала") +
                            KeptLinesMessage(m_file.KeptFile(), m_received),
                        QStringLiteral("the link on the port %1 failed after %2 of %3 journal lines")
                                .arg(m_port)
                                .arg(m_received)
                                .arg(m_announced) +
                            note);
        }
        // The end marker is a whole answer of its own; a line may begin with
        // the same character.
        if (bytes.isEmpty() ? text == kEndOfStream : bytes == kEndOfStreamByte) return ExchangeCode::kOk;
        ++m_received;
        // Only a line the file took counts, so a full disk shows up as a
        // short journal instead of passing silently.
        if (bytes.isEmpty() ? m_file.WriteRecord(text) : m_file.WriteRecordWindows1251(bytes)) ++m_written;
        if (m_progress) m_progress->StepItem();
        if (transfer) transfer->Advance(m_received);
    }
}

// The disk refused lines: the target keeps what it had, and that is the
// failure to report whatever the end of the session brings.
int CJournalDownload::ReportRefusedLines() {
    if (m_filtersSent) m_owner.ResetFiltersQuietly(m_link);
    m_link.SendCommand(QStringLiteral("004"));
    m_session.Close();
    const QString detail = m_file.CannotWriteDetail();
    m_session.SetFailureDetail(detail + m_file.KeptNote(m_written, LinesWord()));
    m_session.ShowError(ShortJournalText() + KeptLinesMessage(m_file.KeptFile(), m_written));
    return ExchangeCode::kJournalShort;
}

// Without numbered scans, what arrived counts as downloaded only once the
// terminal confirmed the end of the exchange (its filters reset, the end
// heard): a retry takes it again instead of appending it twice. With them, the
// record of the commit already tells a retry what the file holds, so the lines
// are committed while the session stays open, and a clear follows in the same
// session: nothing made or waited for in between. A clear without numbered
// scans empties the whole journal, so it too follows the commit in the same
// session, never after waiting for another run's file outside it.
int CJournalDownload::CommitAndEnd() {
    // A short stream is the journal as the terminal sent it, but not all of
    // what the window held: the record claims only what came.
    if (m_written != m_announced) RecordCommit(m_written);
    const bool commitInSession = m_numbered || m_options.clearAfter;
    if (!commitInSession) {
        if (const int ended = EndExchange(true, m_written); ended != ExchangeCode::kOk) return ended;
    }
    int result = ExchangeCode::kOk;
    if (!m_file.Commit(m_owner.busyFileWaitMs)) {
        // Another run kept the file for longer than we wait: the file's own
        // error; a disk that refused the lines: fewer lines than announced.
        result = m_file.Busy() ? ExchangeCode::kJournalFileNotCreated : ExchangeCode::kJournalShort;
        const QString detail = m_file.CannotWriteDetail();
        m_session.SetFailureDetail(detail + m_file.KeptNote(m_written, LinesWord()));
    } else if (m_written != m_announced) {
        // The terminal ended the stream early: what it sent is the journal
        // as it was downloaded (the lines are in the target).
        m_session.SetFailureDetail(
            QStringLiteral("the terminal announced %1 journal lines but sent %2").arg(m_announced).arg(m_written));
        result = ExchangeCode::kJournalShort;
    }
    if (commitInSession) {
        // Destructive only after durable: the clear goes once the lines and
        // their record are on disk, and only after a whole download.
        if (result == ExchangeCode::kOk && m_options.clearAfter) {
            if (const int cleared = ClearDownloaded(); cleared != ExchangeCode::kOk) return cleared;
        }
        const QString saved = m_owner.failureDetail;
        const int ended = EndExchange(true, 0);
        if (result != ExchangeCode::kOk) m_owner.failureDetail = saved;
        else if (ended != ExchangeCode::kOk) result = ended;
    }
    const QString keptMessage = KeptLinesMessage(m_file.KeptFile(), m_written);
    if (result == ExchangeCode::kJournalFileNotCreated) m_session.ShowError(CannotOpenText() + keptMessage);
    else if (result != ExchangeCode::kOk && result != ExchangeCode::kNoAnswer)
        m_session.ShowError(ShortJournalText() + keptMessage);
    return result;
}

// Numbered: the scans this computer holds in any file, this download's among
// them, and nothing else; else the whole journal.
int CJournalDownload::ClearDownloaded() {
    const bool sent = m_numbered ? ParlinkSucceeded(m_link.SendCommand(QStringLiteral("00S"))) &&
                                       ParlinkSucceeded(m_link.SendData(m_records.HeldAnywhere(m_owner.m_terminal).Text()))
                                 : ParlinkSucceeded(m_link.SendCommand(QStringLiteral("001")));
    if (sent && ParlinkSucceeded(m_link.WaitLink(kFilterWaitLinkMs))) return ExchangeCode::kOk;
    if (m_filtersSent) m_owner.ResetFiltersQuietly(m_link);
    return m_session.Fail(ExchangeCode::kNoAnswer, NoAnswerText(),
                          QStringLiteral("the journal is in %1, but the terminal on the port %2 did not "
                                         "confirm its clear")
                              .arg(m_target, m_port));
}
