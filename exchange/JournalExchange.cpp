#include "exchange/JournalExchange.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/FilterResetNote.h"
#include "exchange/ParlinkSession.h"
#include "exchange/StagedDownload.h"
#include "exchange/TerminalAnswer.h"
#include "platform/Clock.h"
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

void JournalExchange::ForgetFilterReset(const QString& port) { CFilterResetNote(filterResetMarker).Remove(port); }

void JournalExchange::ResetFiltersQuietly(IParlinkX2& link, const QString& port) {
    if (ParlinkSucceeded(link.SendCommand(QStringLiteral("40R"))) &&
        ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs)))
        ForgetFilterReset(port);
}

int JournalExchange::SendPendingFilterReset(CParlinkSession& session, const QString& port) {
    if (!CFilterResetNote(filterResetMarker).Pending(port)) return ExchangeCode::kOk;
    IParlinkX2& link = session.Link();
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("40R"))) ||
        !ParlinkSucceeded(link.WaitLink(kFilterWaitLinkMs)))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 40R!"),
                            QStringLiteral("the journal filters left by an earlier filtered download could not "
                                           "be reset on the port %1 (command 40R); the exchange was not run")
                                .arg(port));
    ForgetFilterReset(port);
    return ExchangeCode::kOk;
}

int JournalExchange::DownloadJournal(const QString& port, bool journalIdOn, bool countOnly,
                                     const FilterSet& filters, bool overwrite) {
    IExchangeProgress* progress = showMessages ? progressWindow : nullptr;
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    if (const int reset = SendPendingFilterReset(session, port); reset != ExchangeCode::kOk) return reset;
    IParlinkX2& link = session.Link();

    // Once filters may be on the terminal, every way out resets them: a
    // failed filtered download must not leave a filter behind for the next
    // plain download or clear. The reset of a failure is quiet (its failure
    // is the one to report); one the terminal does not confirm stays noted.
    bool filtersSent = false;
    const auto fail = [&](int code, const QString& message, const QString& detail = QString()) {
        if (filtersSent) ResetFiltersQuietly(link, port);
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
        // Write-ahead: the port is noted before the first filter goes, so a
        // run killed anywhere from here on leaves the reset owed.
        QString why;
        const CFilterResetNote note(filterResetMarker);
        if (!note.Add(port, &why))
            return session.Fail(ExchangeCode::kJournalFileNotCreated, cannotOpen,
                                QStringLiteral("cannot write %1: %2; the filters were not sent")
                                    .arg(note.Path(), why));
        filtersSent = true;
        if (const int sent = SendFilters(link, &filters); sent != ExchangeCode::kOk) {
            failureDetail += QStringLiteral(" (port %1)").arg(port);
            ResetFiltersQuietly(link, port);
            session.Close();
            return sent;
        }
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
        if (filtersSent) ResetFiltersQuietly(link, port);
        session.SetFailureDetail(filters.anySet
                                     ? QStringLiteral("no journal lines on the terminal match the filters")
                                     : QStringLiteral("the terminal's journal is empty"));
        session.Close();
        session.ShowWarning(QStringLiteral("Ошибка! В терминале нет данных!"));
        return ExchangeCode::kJournalEmpty;
    }

    const QString target = CurrentDirectoryFiles().journalFile;
    CStagedDownload file;
    const QString lines = QStringLiteral("line(s)");
    if (!file.Open(target, overwrite ? TextFileMode::Replace : TextFileMode::Append,
                   CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return fail(ExchangeCode::kJournalFileNotCreated, cannotOpen, file.CannotWriteDetail());

    // What arrived counts as downloaded only once the terminal confirmed the
    // end of the exchange (its filters reset, the end heard). Until then it
    // stays beside the target: a retry takes it again instead of appending
    // it twice, and a journal cleared after a success was really downloaded.
    // 0, or 4 with its message shown and the lines kept beside the target.
    const auto endExchange = [&](bool sendEnd, qint64 kept) {
        int reset = ExchangeCode::kOk;
        if (filtersSent) {
            reset = SendFilters(link, nullptr);  // shows its own message
            if (reset == ExchangeCode::kOk) ForgetFilterReset(port);
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

    if (countOnly) {
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

    if (!ParlinkSucceeded(link.SendCommand(journalIdOn ? QStringLiteral("031") : QStringLiteral("021"))))
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
        if (filtersSent) ResetFiltersQuietly(link, port);
        link.SendCommand(QStringLiteral("004"));
        session.Close();
        const QString detail = file.CannotWriteDetail();
        session.SetFailureDetail(detail + file.KeptNote(written, lines));
        session.ShowError(QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!") +
                          KeptLinesMessage(file.KeptFile(), written));
        return ExchangeCode::kJournalShort;
    }
    if (const int ended = endExchange(true, written); ended != ExchangeCode::kOk) return ended;
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
    const QString keptMessage = KeptLinesMessage(file.KeptFile(), written);
    if (result == ExchangeCode::kJournalFileNotCreated) session.ShowError(cannotOpen + keptMessage);
    else if (result != ExchangeCode::kOk)
        session.ShowError(QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!") +
                          keptMessage);
    return result;
}

int JournalExchange::ApplyFilters(const QString& port, const FilterSet& filters) {
    // A reset asked for is owed from the moment it is asked for until the
    // terminal confirmed it: a run that fails anywhere, or is killed, leaves
    // it for the next exchange on the port. (Should the note not be
    // writable, the reset is still sent; its result tells.)
    if (!filters.anySet) CFilterResetNote(filterResetMarker).Add(port);
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    // A reset is itself what a noted reset would send.
    if (filters.anySet) {
        if (const int reset = SendPendingFilterReset(session, port); reset != ExchangeCode::kOk) return reset;
    }
    const int result = SendFilters(session.Link(), &filters);
    // The filters now on the terminal are the ones asked for; a program too
    // old for filters holds none.
    if (result == ExchangeCode::kOk || result == ExchangeCode::kFirmwareTooOld) ForgetFilterReset(port);
    if (result == ExchangeCode::kNoAnswer) failureDetail += QStringLiteral(" (port %1)").arg(port);
    return session.End(result);
}

int JournalExchange::ClearJournal(const QString& port) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    if (const int reset = SendPendingFilterReset(session, port); reset != ExchangeCode::kOk) return reset;
    if (!ParlinkSucceeded(session.Link().SendCommand(QStringLiteral("001"))))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    // Cleared only when the terminal confirms it carried the command out.
    return session.End(ExchangeCode::kOk);
}

int JournalExchange::SetCurrentValues(const QString& port, const CurrentValues& values) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    if (const int reset = SendPendingFilterReset(session, port); reset != ExchangeCode::kOk) return reset;
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
