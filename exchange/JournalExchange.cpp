#include "exchange/JournalExchange.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/FilterResetNote.h"
#include "exchange/TerminalRecords.h"
#include "exchange/ParlinkSession.h"
#include "exchange/StagedDownload.h"
#include "exchange/TerminalAnswer.h"
#include "platform/Clock.h"
#include "platform/InstallLayout.h"
#include "platform/LeadingInteger.h"
#include "platform/Prompt.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QStringList>

#include <array>

namespace {

constexpr QChar kEndOfStream = QChar(0x0004);
constexpr int kFilterWaitLinkMs = 15000;
constexpr int kCurrentValueWaitLinkMs = 1000;

QString NoAnswerText() { return QStringLiteral("Ошибка обмена! Терминал не отвечает!"); }

struct FilterStep {
    const char* command;
    const char* commandFailed;
    const char* valueFailed;
};

const FilterStep kFilterSteps[] = {
    {"401", "Ошибка обмена! Команда фильтр по операции", "Ошибка обмена! Терминал не отвечает на команду 401!"},
    {"403", "Ошибка обмена! Команда фильтр по исполнителю", "Ошибка обмена! Терминал не отвечает на команду 403!"},
    {"405", "Ошибка обмена! Команда фильтр по адресу", "Ошибка обмена! Терминал не отвечает на команду 405!"},
    {"407", "Ошибка обмена! Команда фильтр по документу", "Ошибка обмена! Терминал не отвечает на команду 407!"},
    {"408", "Ошибка обмена! Команда фильтр по товару", "Ошибка обмена! Терминал не отвечает на команду 408!"},
    {"409", "Ошибка обмена! Команда фильтр по ш/к", "Ошибка обмена! Терминал не отвечает на команду 409!"},
};

// The value of each filter in table order, null when the filter is not taken.
std::array<QString, 6> FilterValues(const FilterSet& filters) {
    auto id = [](int value) { return value != 0 ? QString::number(value) : QString(); };
    return {id(filters.operationId), id(filters.executorId), id(filters.addressId),
            id(filters.documentId),  filters.ware,           filters.barcode};
}

}  // namespace

bool FirmwareSupportsFilters(const QString& programVersion) {
    const QStringList parts = programVersion.split(QLatin1Char('.'));
    int numbers[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 && i < parts.size(); ++i) numbers[i] = LeadingInteger(parts[i]);
    const int major = numbers[0], minor = numbers[1], build = numbers[2];
    if (major < 4) return false;
    if (major == 4 && minor < 3) return false;
    if (major == 4 && minor == 3 && build < 5) return false;
    return true;
}

int JournalExchange::CheckFirmware(IParlinkX2& link) {
    if (firmwareChecked) return ExchangeCode::kOk;
    // A lost link is a lost link, not an old program: without an answer
    // there is no version to judge.
    const auto lost = [this](const QString& message) {
        failureDetail = message;
        if (showMessages) Prompt().Error(message, caption);
        return ExchangeCode::kNoAnswer;
    };
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("--s")))) return lost(NoAnswerText());
    QString answer;
    if (!ParlinkSucceeded(link.Receive(&answer))) return lost(QStringLiteral("Ошибка обмена!"));
    const QString version = AnswerField(SplitAnswer(answer), 2);
    if (!FirmwareSupportsFilters(version)) {
        failureDetail = QStringLiteral("the terminal's program \"%1\" is older than 4.3.5, which "
                                       "journal filters need")
                            .arg(version);
        return ExchangeCode::kFirmwareTooOld;
    }
    firmwareChecked = true;
    return ExchangeCode::kOk;
}

int JournalExchange::SendFilters(IParlinkX2& link, const FilterSet* filters) {
    auto fail = [this](const char* message) {
        failureDetail = QString::fromUtf8(message);
        if (showMessages) Prompt().Error(QString::fromUtf8(message), caption);
        return ExchangeCode::kNoAnswer;
    };
    if (const int checked = CheckFirmware(link); checked != ExchangeCode::kOk) return checked;
    // Sending only queues: the filters count as set (or reset) once the
    // terminal answered the link check behind them.
    if (filters && filters->anySet) {
        const std::array<QString, 6> values = FilterValues(*filters);
        const char* lastSent = nullptr;
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i].isEmpty()) continue;
            if (!ParlinkSucceeded(link.SendCommand(QString::fromLatin1(kFilterSteps[i].command))))
                return fail(kFilterSteps[i].commandFailed);
            if (!ParlinkSucceeded(link.SendData(values[i]))) return fail(kFilterSteps[i].valueFailed);
            lastSent = kFilterSteps[i].valueFailed;
        }
        if (!ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs)))
            return fail(lastSent ? lastSent : "Ошибка обмена! Терминал не отвечает!");
        return ExchangeCode::kOk;
    }
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("40R"))) ||
        !ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs)))
        return fail("Ошибка обмена! Терминал не отвечает на команду 40R!");
    return ExchangeCode::kOk;
}

namespace {

// What the message box adds when a failed download kept the lines that had
// arrived: where they are, and that the journal file is as it was.
QString KeptLinesMessage(const QString& kept, qint64 lines) {
    if (kept.isEmpty()) return QString();
    return QStringLiteral("\n\nПолученные строки журнала (%1) сохранены в файле:\n%2\nФайл журнала не изменен.")
        .arg(lines)
        .arg(QDir::toNativeSeparators(kept));
}

}  // namespace

QString TerminalRecordsFolder() {
    const QString state = StateFolder();
    return state.isEmpty() ? QString() : state + QStringLiteral("terminals");
}

void JournalExchange::ForgetFilterReset() {
    if (!m_terminal.isEmpty()) CTerminalRecords(recordsFolder).DropResetOwed(m_terminal);
}

void JournalExchange::ResetFiltersQuietly(IParlinkX2& link) {
    if (ParlinkSucceeded(link.SendCommand(QStringLiteral("40R"))) &&
        ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs)))
        ForgetFilterReset();
}

int JournalExchange::OpenTerminal(CParlinkSession& session, const QString& port, bool needIdentity) {
    m_terminal.clear();
    session.SetBusyWait(busyFileWaitMs);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk) return opened;
    const CTerminalRecords records(recordsFolder);
    // The identity is asked only when something is kept by it: a terminal
    // that numbers its scans, filters about to be set, or a reset owed to a
    // terminal (which may be this one, under another port name).
    if (!records.Keeps() ||
        !(needIdentity || session.JournalSequence() || records.AnyResetOwed()))
        return ExchangeCode::kOk;
    IParlinkX2& link = session.Link();
    QString answer;
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("--h"))) || !ParlinkSucceeded(link.Receive(&answer)))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText(),
                            QStringLiteral("the terminal on the port %1 did not tell its identity (command --h)")
                                .arg(port));
    // "model;terminal;DeviceID"; a terminal without a DeviceID is known by
    // its port, as well as can be.
    const QString device = AnswerField(SplitAnswer(answer), 3).trimmed();
    m_terminal = device.isEmpty() ? QStringLiteral("port:") + port.trimmed() : device;
    return ExchangeCode::kOk;
}

int JournalExchange::SendPendingFilterReset(CParlinkSession& session) {
    const CFilterResetNote legacy(legacyFilterResetNote);
    const bool legacyOwed = legacy.Pending(session.Port());
    if (!legacyOwed && (m_terminal.isEmpty() || !CTerminalRecords(recordsFolder).ResetOwed(m_terminal)))
        return ExchangeCode::kOk;
    IParlinkX2& link = session.Link();
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("40R"))) ||
        !ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs)))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 40R!"),
                            QStringLiteral("the journal filters left by an earlier filtered download could not "
                                           "be reset on the terminal %1 at the port %2 (command 40R); the "
                                           "exchange was not run")
                                .arg(m_terminal, session.Port()));
    ForgetFilterReset();
    if (legacyOwed) legacy.Remove(session.Port());
    return ExchangeCode::kOk;
}

int JournalExchange::DownloadJournal(const QString& port, bool journalIdOn, bool countOnly, const FilterSet& filters,
                                     bool overwrite) {
    JournalDownloadOptions options;
    options.journalIdOn = journalIdOn;
    options.countOnly = countOnly;
    options.filters = filters;
    options.overwrite = overwrite;
    return DownloadJournal(port, options);
}

int JournalExchange::DownloadJournal(const QString& port, const JournalDownloadOptions& options) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = OpenTerminal(session, port, options.filters.anySet); opened != ExchangeCode::kOk)
        return opened;
    if (const int reset = SendPendingFilterReset(session); reset != ExchangeCode::kOk) return reset;
    return Download(session, port, options);
}

int JournalExchange::Download(CParlinkSession& session, const QString& port, const JournalDownloadOptions& options) {
    IExchangeProgress* progress = showMessages ? progressWindow : nullptr;
    IParlinkX2& link = session.Link();
    const FilterSet& filters = options.filters;
    // A terminal that numbers its scans keeps the truth: a download takes
    // the scans above the newest one the file holds, the filters it sets
    // last for the session alone, and a clear names the newest scan it
    // erases. Without that, the program keeps what it can on its side.
    const bool numbered = session.JournalSequence() && !m_terminal.isEmpty();
    const CTerminalRecords records(recordsFolder);

    // Once filters that outlive the session may be on the terminal, every way
    // out resets them: a failed filtered download must not leave a filter
    // behind for the next plain download or clear. The reset of a failure is
    // quiet (its failure is the one to report); one the terminal does not
    // confirm stays noted.
    bool filtersSent = false;
    const auto fail = [&](int code, const QString& message, const QString& detail = QString()) {
        if (filtersSent) ResetFiltersQuietly(link);
        return session.Fail(code, message, detail);
    };

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("998"))))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    QString answer;
    if (!ParlinkSucceeded(link.Receive(&answer)))
        return session.Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Команда 998"));
    {
        // "<ready flag>;<text>": a missing text is shown as an empty warning.
        const QStringList fields = SplitAnswer(answer);
        if (LeadingInteger(AnswerField(fields, 1)) != 1) {
            session.SetFailureDetail(QStringLiteral("the terminal on the port %1 is not ready: %2")
                                         .arg(port, AnswerField(fields, 2)));
            session.Close();
            session.ShowWarning(AnswerField(fields, 2));
            return ExchangeCode::kTerminalNotReady;
        }
    }

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("999"))))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    Clock().SleepMs(200);
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("303"))))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 303!"));
    Clock().SleepMs(200);
    if (!ParlinkSucceeded(link.SendData(TerminalTimeStamp())))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 303(2)!"));
    Clock().SleepMs(400);

    const QString cannotOpen = QStringLiteral("Не могу открыть файл на запись журнала!");
    if (filters.anySet) {
        // Too old a program takes no filter at all: nothing to note then.
        if (const int checked = CheckFirmware(link); checked != ExchangeCode::kOk) {
            if (checked == ExchangeCode::kNoAnswer) failureDetail += QStringLiteral(" (port %1)").arg(port);
            return session.End(checked);
        }
        if (numbered) {
            // The terminal drops these filters itself when the session ends,
            // however it ends: nothing to note, nothing to reset.
            if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("40T"))))
                return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
        } else {
            // Write-ahead: the reset is noted before the first filter goes, so a
            // run killed anywhere from here on leaves it owed.
            QString why;
            if (!records.NoteResetOwed(m_terminal, &why))
                return session.Fail(ExchangeCode::kJournalFileNotCreated, cannotOpen,
                                    QStringLiteral("cannot write the record of the terminal %1 in %2: %3; the "
                                                   "filters were not sent")
                                        .arg(m_terminal, records.Folder(), why));
            filtersSent = true;
        }
        if (const int sent = SendFilters(link, &filters); sent != ExchangeCode::kOk) {
            failureDetail += QStringLiteral(" (port %1)").arg(port);
            if (filtersSent) ResetFiltersQuietly(link);
            session.Close();
            return sent;
        }
    }

    const QString target = CurrentDirectoryFiles().journalFile;
    const QString countFailed = QStringLiteral("Ошибка обмена! Команда запроса кол-ва строк в журнале");
    // The scans this download covers: those the file does not hold yet
    // (appending; a file replaced gets every scan the terminal keeps), up to
    // the newest one the terminal has as the window is set. A scan made after
    // that is the next download's. A replaced file's earlier scans were
    // delivered too (the user took them with the file): they stay recorded,
    // so a clear erases them.
    CNumberRanges held;
    qint64 oldestKept = 0;
    if (numbered && !options.countOnly) {
        held = records.Held(m_terminal, target);
        answer.clear();
        if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("02S"))) ||
            !ParlinkSucceeded(link.SendData(options.overwrite ? QString() : held.Text())) ||
            !ParlinkSucceeded(link.Receive(&answer)))
            return fail(ExchangeCode::kNoAnswer, countFailed);
        // "L;F": the newest scan's number, the oldest one's still kept.
        const QStringList fields = answer.trimmed().split(QLatin1Char(';'));
        bool newestRead = false, oldestRead = false;
        const qint64 newest = fields.value(0).toLongLong(&newestRead);
        oldestKept = fields.value(1).toLongLong(&oldestRead);
        if (fields.size() != 2 || !newestRead || !oldestRead || newest < 0 || oldestKept < 1)
            return fail(ExchangeCode::kNoAnswer, countFailed,
                        QStringLiteral("the terminal on the port %1 answered the journal window with \"%2\"")
                            .arg(port, answer));
    }

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("020"))))
        return fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Ошибка отправлении команды 020!"));
    answer.clear();
    if (!ParlinkSucceeded(link.Receive(&answer)))
        return fail(ExchangeCode::kNoAnswer,
                    QStringLiteral("Ошибка обмена! Команда запроса кол-ва строк в журнале"));
    const int announced = LeadingInteger(answer);
    // A count below zero is no count: a garbled answer, not a journal to
    // write down (the count file would say "-2" and the run succeed).
    if (announced < 0)
        return fail(ExchangeCode::kNoAnswer,
                    QStringLiteral("Ошибка обмена! Команда запроса кол-ва строк в журнале"),
                    QStringLiteral("the terminal on the port %1 answered the line count with \"%2\"").arg(port, answer));
    if (announced == 0) {
        if (filtersSent) ResetFiltersQuietly(link);
        // Nothing new, but what this computer already holds may still be on
        // the terminal (a clear never confirmed): a clear asked for takes it.
        if (numbered && options.clearAfter) {
            const CNumberRanges erase = records.HeldAnywhere(m_terminal);
            if (!erase.IsEmpty() && (!ParlinkSucceeded(link.SendCommand(QStringLiteral("00S"))) ||
                                     !ParlinkSucceeded(link.SendData(erase.Text())) ||
                                     !ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs))))
                return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText(),
                                    QStringLiteral("the terminal on the port %1 did not confirm the clear of the "
                                                   "scans this computer holds")
                                        .arg(port));
        }
        session.SetFailureDetail(filters.anySet
                                     ? QStringLiteral("no journal lines on the terminal match the filters")
                                     : QStringLiteral("the terminal's journal is empty"));
        session.Close();
        session.ShowWarning(QStringLiteral("Ошибка! В терминале нет данных!"));
        return ExchangeCode::kJournalEmpty;
    }

    // The numbers of the scans coming, in the order they come.
    CNumberRanges coming;
    if (numbered && !options.countOnly) {
        answer.clear();
        if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("02L"))) || !ParlinkSucceeded(link.Receive(&answer)))
            return fail(ExchangeCode::kNoAnswer, countFailed);
        if (!CNumberRanges::Parse(answer.trimmed(), &coming) || coming.Count() != announced)
            return fail(ExchangeCode::kNoAnswer, countFailed,
                        QStringLiteral("the terminal on the port %1 announced %2 journal lines but numbered \"%3\"")
                            .arg(port)
                            .arg(announced)
                            .arg(answer.left(200)));
    }

    CStagedDownload file;
    const QString lines = QStringLiteral("line(s)");
    if (!file.Open(target, options.overwrite ? TextFileMode::Replace : TextFileMode::Append,
                   CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return fail(ExchangeCode::kJournalFileNotCreated, cannotOpen, file.CannotWriteDetail());
    // The scans the file will hold are recorded with the commit that brings
    // them (written ahead, settled by the file that is there): what it held,
    // the first `received` of those coming, and everything older than the
    // oldest scan still kept (gone from the terminal, so nothing to fetch).
    const auto recordCommit = [&](qint64 received) {
        if (!numbered || options.countOnly) return;
        CNumberRanges after = held;
        after.Add(coming.First(received));
        after.FillBelow(oldestKept);
        file.SetCommitRecord({[records, terminal = m_terminal, target, after](dev_t device, ino_t inode, qint64 size,
                                                                              QString* error) {
                                  return records.NoteCommit(terminal, target, after, device, inode, size, error);
                              },
                              [records, terminal = m_terminal, target] { records.ConfirmCommit(terminal, target); }});
    };
    recordCommit(announced);

    // The end of the exchange: the filters reset (those that outlive the
    // session), the end heard. 0, or 4 with its message shown and the lines
    // kept beside the target.
    const auto endExchange = [&](bool sendEnd, qint64 kept) {
        int reset = ExchangeCode::kOk;
        if (filtersSent) {
            reset = SendFilters(link, nullptr);  // shows its own message
            if (reset == ExchangeCode::kOk) ForgetFilterReset();
        }
        const bool endSent =
            !sendEnd || (reset == ExchangeCode::kOk && ParlinkSucceeded(link.SendCommand(QStringLiteral("004"))));
        const bool closed = session.Close();
        if (reset == ExchangeCode::kOk && endSent && closed) return ExchangeCode::kOk;
        const QString why =
            reset != ExchangeCode::kOk
                ? failureDetail + QStringLiteral(" (port %1)").arg(port)
                : QStringLiteral("the terminal on the port %1 did not confirm the end of the journal download")
                      .arg(port);
        session.SetFailureDetail(why + file.KeptNote(kept, lines));
        if (reset == ExchangeCode::kOk) session.ShowError(NoAnswerText() + KeptLinesMessage(file.KeptFile(), kept));
        return ExchangeCode::kNoAnswer;
    };

    if (options.countOnly) {
        // The count alone, without a line end: successive appended counts
        // follow each other directly.
        if (!file.WriteRaw(QByteArray::number(announced))) {
            const QString note = file.KeptNote(0, lines);
            return fail(ExchangeCode::kJournalFileNotCreated, cannotOpen, file.CannotWriteDetail() + note);
        }
        if (const int ended = endExchange(false, 1); ended != ExchangeCode::kOk) return ended;
        if (!file.Commit(busyFileWaitMs)) {
            const QString detail = file.CannotWriteDetail();
            const QString note = file.KeptNote(1, lines);
            return session.Fail(ExchangeCode::kJournalFileNotCreated,
                                cannotOpen + KeptLinesMessage(file.KeptFile(), 1), detail + note);
        }
        return ExchangeCode::kOk;
    }

    if (!ParlinkSucceeded(link.SendCommand(options.journalIdOn ? QStringLiteral("031") : QStringLiteral("021"))))
        return fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Ошибка в отправлении команды 021!"));
    if (progress) progress->SetItemRange(announced);
    if (transferProgress) transferProgress->Begin(QStringLiteral("journal"), announced);

    int received = 0;
    int written = 0;
    for (;;) {
        QString line;
        if (!ParlinkSucceeded(link.Receive(&line))) {
            const QString note = file.KeptNote(received, lines);
            return fail(ExchangeCode::kNoAnswer,
                        QStringLiteral("Ошибка обмена! Команда построчное получение журнала") +
                            KeptLinesMessage(file.KeptFile(), received),
                        QStringLiteral("the link on the port %1 failed after %2 of %3 journal lines")
                                .arg(port)
                                .arg(received)
                                .arg(announced) +
                            note);
        }
        // The end marker is a whole answer of its own; a line may begin with
        // the same character.
        if (line == kEndOfStream) break;
        ++received;
        // Only a line the file took counts, so a full disk shows up as a
        // short journal instead of passing silently.
        if (file.WriteRecord(line)) ++written;
        if (progress) progress->StepItem();
        if (transferProgress) transferProgress->Advance(received);
    }

    if (written != received) {
        // The disk refused lines: the target keeps what it had, and that is
        // the failure to report whatever the end of the session brings.
        if (filtersSent) ResetFiltersQuietly(link);
        link.SendCommand(QStringLiteral("004"));
        session.Close();
        const QString detail = file.CannotWriteDetail();
        session.SetFailureDetail(detail + file.KeptNote(written, lines));
        session.ShowError(QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!") +
                          KeptLinesMessage(file.KeptFile(), written));
        return ExchangeCode::kJournalShort;
    }
    // A short stream is the journal as the terminal sent it, but not all of
    // what the window held: the record claims only what came.
    if (written != announced) recordCommit(written);

    // Without numbered scans, what arrived counts as downloaded only once the
    // terminal confirmed the end of the exchange (its filters reset, the end
    // heard): a retry takes it again instead of appending it twice. With
    // them, the record of the commit already tells a retry what the file
    // holds, so the lines are committed while the session stays open, and a
    // clear follows in the same session: nothing made or waited for in
    // between. A clear without numbered scans empties the whole journal, so
    // it too follows the commit in the same session, never after waiting for
    // another run's file outside it.
    const bool commitInSession = numbered || options.clearAfter;
    if (!commitInSession) {
        if (const int ended = endExchange(true, written); ended != ExchangeCode::kOk) return ended;
    }
    int result = ExchangeCode::kOk;
    if (!file.Commit(busyFileWaitMs)) {
        // Another run kept the file for longer than we wait: the file's own
        // error; a disk that refused the lines: fewer lines than announced.
        result = file.Busy() ? ExchangeCode::kJournalFileNotCreated : ExchangeCode::kJournalShort;
        const QString detail = file.CannotWriteDetail();
        session.SetFailureDetail(detail + file.KeptNote(written, lines));
    } else if (written != announced) {
        // The terminal ended the stream early: what it sent is the journal
        // as it was downloaded (the lines are in the target).
        session.SetFailureDetail(QStringLiteral("the terminal announced %1 journal lines but sent %2")
                                     .arg(announced)
                                     .arg(written));
        result = ExchangeCode::kJournalShort;
    }
    if (commitInSession) {
        // Destructive only after durable: the clear goes once the lines and
        // their record are on disk, and only after a whole download.
        if (result == ExchangeCode::kOk && options.clearAfter) {
            // Numbered: the scans this computer holds in any file, this
            // download's among them, and nothing else.
            const bool sent =
                numbered ? ParlinkSucceeded(link.SendCommand(QStringLiteral("00S"))) &&
                               ParlinkSucceeded(link.SendData(records.HeldAnywhere(m_terminal).Text()))
                         : ParlinkSucceeded(link.SendCommand(QStringLiteral("001")));
            if (!sent || !ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs))) {
                if (filtersSent) ResetFiltersQuietly(link);
                return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText(),
                                    QStringLiteral("the journal is in %1, but the terminal on the port %2 did not "
                                                   "confirm its clear")
                                        .arg(target, port));
            }
        }
        const QString saved = failureDetail;
        const int ended = endExchange(true, 0);
        if (result != ExchangeCode::kOk) failureDetail = saved;
        else if (ended != ExchangeCode::kOk) result = ended;
    }
    const QString keptMessage = KeptLinesMessage(file.KeptFile(), written);
    if (result == ExchangeCode::kJournalFileNotCreated) session.ShowError(cannotOpen + keptMessage);
    else if (result != ExchangeCode::kOk && result != ExchangeCode::kNoAnswer)
        session.ShowError(QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!") +
                          keptMessage);
    return result;
}

int JournalExchange::ApplyFilters(const QString& port, const FilterSet& filters) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    // A reset asked for is owed from the moment it is asked for until the
    // terminal confirmed it: a run that fails anywhere after the identity,
    // or is killed, leaves it for the next exchange with the terminal.
    if (const int opened = OpenTerminal(session, port, !filters.anySet); opened != ExchangeCode::kOk) return opened;
    if (!filters.anySet) CTerminalRecords(recordsFolder).NoteResetOwed(m_terminal);
    // A reset is itself what a noted reset would send.
    if (filters.anySet) {
        if (const int reset = SendPendingFilterReset(session); reset != ExchangeCode::kOk) return reset;
    }
    const int result = SendFilters(session.Link(), &filters);
    // The filters now on the terminal are the ones asked for; a program too
    // old for filters holds none.
    if (result == ExchangeCode::kOk || result == ExchangeCode::kFirmwareTooOld) ForgetFilterReset();
    if (result == ExchangeCode::kNoAnswer) failureDetail += QStringLiteral(" (port %1)").arg(port);
    return session.End(result);
}

int JournalExchange::ClearJournal(const QString& port) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = OpenTerminal(session, port, false); opened != ExchangeCode::kOk) return opened;
    if (const int reset = SendPendingFilterReset(session); reset != ExchangeCode::kOk) return reset;
    IParlinkX2& link = session.Link();
    if (session.JournalSequence() && !m_terminal.isEmpty()) {
        // Only what this computer holds in a file: a scan made since, or one
        // whose download never came whole, stays on the terminal.
        const CNumberRanges erase = CTerminalRecords(recordsFolder).HeldAnywhere(m_terminal);
        if (!erase.IsEmpty() && (!ParlinkSucceeded(link.SendCommand(QStringLiteral("00S"))) ||
                                 !ParlinkSucceeded(link.SendData(erase.Text()))))
            return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
        return session.End(ExchangeCode::kOk);
    }
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("001"))))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    // Cleared only when the terminal confirms it carried the command out.
    return session.End(ExchangeCode::kOk);
}

int JournalExchange::SetCurrentValues(const QString& port, const CurrentValues& values) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = OpenTerminal(session, port, false); opened != ExchangeCode::kOk) return opened;
    if (const int reset = SendPendingFilterReset(session); reset != ExchangeCode::kOk) return reset;
    IParlinkX2& link = session.Link();
    const std::pair<const char*, const std::optional<int>*> steps[] = {
        {"881", &values.operation}, {"883", &values.executor}, {"885", &values.address}, {"887", &values.document}};
    for (const auto& [command, value] : steps) {
        if (!value->has_value()) continue;
        if (!ParlinkSucceeded(link.SendCommand(QString::fromLatin1(command))) ||
            !ParlinkSucceeded(link.SendData(QString::number(**value))) ||
            !ParlinkSucceeded(link.WaitLink(kCurrentValueWaitLinkMs)))
            return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    }
    return session.End(ExchangeCode::kOk);
}
