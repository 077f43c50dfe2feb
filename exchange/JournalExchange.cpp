#include "exchange/JournalExchange.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/StagedDownload.h"
#include "exchange/TerminalSession.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
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

int JournalExchange::SendFilters(IParlinkX2& link, const FilterSet* filters) {
    auto fail = [this](const char* message) {
        failureDetail = QString::fromUtf8(message);
        if (showMessages) Prompt().Error(QString::fromUtf8(message), caption);
        return ExchangeCode::kNoAnswer;
    };
    if (!firmwareChecked) {
        link.SendCommand(QStringLiteral("--s"));
        QString answer;
        link.Receive(&answer);
        const QString version = AnswerField(SplitAnswer(answer), 2);
        if (!FirmwareSupportsFilters(version)) {
            failureDetail = QStringLiteral("the terminal's program \"%1\" is older than 4.3.5, which "
                                           "journal filters need")
                                .arg(version);
            return ExchangeCode::kFirmwareTooOld;
        }
        firmwareChecked = true;
    }
    if (filters && filters->anySet) {
        const std::array<QString, 6> values = FilterValues(*filters);
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i].isEmpty()) continue;
            if (!ParlinkSucceeded(link.SendCommand(QString::fromLatin1(kFilterSteps[i].command))))
                return fail(kFilterSteps[i].commandFailed);
            if (!ParlinkSucceeded(link.SendData(values[i]))) return fail(kFilterSteps[i].valueFailed);
        }
        link.WaitLink(kFilterWaitLinkMs);
        return ExchangeCode::kOk;
    }
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("40R"))))
        return fail("Ошибка обмена! Терминал не отвечает на команду 40R!");
    return ExchangeCode::kOk;
}

namespace {

// The port a remembered reset belongs to; empty when none is remembered.
QString PendingFilterResetPort(const QString& marker) {
    if (marker.isEmpty()) return QString();
    QFile file(marker);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

// What became of the journal file and the lines of a failed download.
QString KeptLinesNote(const QString& target, const QString& kept, qint64 lines) {
    return KeptFilesNote(target, kept, lines, QStringLiteral("line(s)"));
}

// What the message box adds when a failed download kept the lines that had
// arrived: where they are, and that the journal file is as it was.
QString KeptLinesMessage(const QString& kept, qint64 lines) {
    if (kept.isEmpty()) return QString();
    return QStringLiteral("\n\nПолученные строки журнала (%1) сохранены в файле:\n%2\nФайл журнала не изменен.")
        .arg(lines)
        .arg(QDir::toNativeSeparators(kept));
}

}  // namespace

void JournalExchange::ForgetPendingFilterReset() {
    if (!filterResetMarker.isEmpty()) QFile::remove(filterResetMarker);
}

int JournalExchange::SendPendingFilterReset(CParlinkSession& session, const QString& port) {
    const QString pending = PendingFilterResetPort(filterResetMarker);
    if (pending.isEmpty() || pending != port.trimmed()) return ExchangeCode::kOk;
    if (!ParlinkSucceeded(session.Link().SendCommand(QStringLiteral("40R"))))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 40R!"),
                            QStringLiteral("the journal filters left by an earlier failed download could not "
                                           "be reset on the port %1 (command 40R); the exchange was not run")
                                .arg(port));
    ForgetPendingFilterReset();
    return ExchangeCode::kOk;
}

void JournalExchange::RememberFilterReset(const QString& port) {
    if (filterResetMarker.isEmpty()) return;
    WriteTextFile(filterResetMarker, port.trimmed() + QLatin1Char('\n'), TextFileMode::Replace,
                  CodePage::CCodec(QStringLiteral("UTF-8")));
}

bool JournalExchange::ResetFiltersOrRemember(IParlinkX2& link, const QString& port) {
    if (ParlinkSucceeded(link.SendCommand(QStringLiteral("40R")))) return true;
    RememberFilterReset(port);
    return false;
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
    // is the one to report); one the link no longer takes is remembered.
    bool filtersSent = false;
    const auto fail = [&](int code, const QString& message, const QString& detail = QString()) {
        if (filtersSent) ResetFiltersOrRemember(link, port);
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

    if (filters.anySet) {
        const int sent = SendFilters(link, &filters);
        // Too old a program takes no filter at all; any other outcome may
        // have left some of them set.
        filtersSent = sent != ExchangeCode::kFirmwareTooOld;
        if (sent != ExchangeCode::kOk) {
            if (filtersSent) {
                failureDetail += QStringLiteral(" (port %1)").arg(port);
                ResetFiltersOrRemember(link, port);
            }
            return session.End(sent);
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
        if (filtersSent) ResetFiltersOrRemember(link, port);
        session.SetFailureDetail(filters.anySet
                                     ? QStringLiteral("no journal lines on the terminal match the filters")
                                     : QStringLiteral("the terminal's journal is empty"));
        session.Close();
        session.ShowWarning(QStringLiteral("Ошибка! В терминале нет данных!"));
        return ExchangeCode::kJournalEmpty;
    }

    const QString cannotOpen = QStringLiteral("Не могу открыть файл на запись журнала!");
    const QString target = CurrentDirectoryFiles().journalFile;
    CStagedDownload file;
    if (!file.Open(target, overwrite ? TextFileMode::Replace : TextFileMode::Append,
                   CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return fail(ExchangeCode::kJournalFileNotCreated, cannotOpen,
                    CannotWriteDetail(target, file.ErrorString()));

    if (countOnly) {
        // The count alone, without a line end: successive appended counts
        // follow each other directly.
        if (!file.WriteRaw(QByteArray::number(announced)) || !file.Commit()) {
            const QString why = file.ErrorString();
            const QString kept = file.Abandon();
            return fail(ExchangeCode::kJournalFileNotCreated, cannotOpen + KeptLinesMessage(kept, 1),
                        CannotWriteDetail(target, why) + KeptLinesNote(target, kept, 1));
        }
        if (filtersSent && SendFilters(link, nullptr) != ExchangeCode::kOk) RememberFilterReset(port);
        return session.End(ExchangeCode::kOk);
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
            const QString kept = file.Abandon();
            return fail(ExchangeCode::kNoAnswer,
                        QStringLiteral("Ошибка обмена! Команда построчное получение журнала") +
                            KeptLinesMessage(kept, received),
                        QStringLiteral("the link on the port %1 failed after %2 of %3 journal lines")
                                .arg(port)
                                .arg(received)
                                .arg(announced) +
                            KeptLinesNote(target, kept, received));
        }
        if (line.startsWith(kEndOfStream)) break;
        ++received;
        // Only a line the file took counts, so a full disk shows up as a
        // short journal instead of passing silently.
        if (file.WriteRecord(line)) ++written;
        if (progress) progress->StepItem();
        if (transferProgress) transferProgress->Advance(received);
    }

    int result = ExchangeCode::kOk;
    QString kept;
    if (written != received) {
        // The disk refused lines: the target keeps what it had.
        const QString why = file.ErrorString();
        kept = file.Abandon();
        session.SetFailureDetail(CannotWriteDetail(target, why) + KeptLinesNote(target, kept, written));
        result = ExchangeCode::kJournalShort;
    } else if (!file.Commit()) {
        const QString why = file.ErrorString();
        kept = file.Abandon();
        session.SetFailureDetail(CannotWriteDetail(target, why) + KeptLinesNote(target, kept, written));
        result = ExchangeCode::kJournalShort;
    } else if (written != announced) {
        // The terminal ended the stream early: what it sent is the journal
        // as it was downloaded (the lines are in the target).
        session.SetFailureDetail(QStringLiteral("the terminal announced %1 journal lines but sent %2")
                                     .arg(announced)
                                     .arg(written));
        result = ExchangeCode::kJournalShort;
    }
    if (result != ExchangeCode::kOk)
        session.ShowError(QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!") +
                          KeptLinesMessage(kept, written));
    if (filtersSent && SendFilters(link, nullptr) != ExchangeCode::kOk) RememberFilterReset(port);
    link.SendCommand(QStringLiteral("004"));
    return session.End(result);
}

int JournalExchange::ApplyFilters(const QString& port, const FilterSet& filters) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    // A reset is itself what a remembered reset would send.
    if (filters.anySet) {
        if (const int reset = SendPendingFilterReset(session, port); reset != ExchangeCode::kOk) return reset;
    }
    const int result = SendFilters(session.Link(), &filters);
    // The filters now on the terminal are the ones asked for.
    if (result == ExchangeCode::kOk) ForgetPendingFilterReset();
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
        if (!ParlinkSucceeded(link.SendCommand(QString::fromLatin1(command))))
            return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
        link.SendData(QString::number(**value));
        if (!ParlinkSucceeded(link.WaitLink(kCurrentValueWaitLinkMs)))
            return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    }
    return session.End(ExchangeCode::kOk);
}
