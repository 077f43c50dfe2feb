#include "exchange/JournalExchange.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/FilterResetNote.h"
#include "exchange/JournalDownload.h"
#include "exchange/ParlinkSession.h"
#include "exchange/TerminalRecords.h"
#include "exchange/TerminalAnswer.h"
#include "platform/InstallLayout.h"
#include "platform/LeadingInteger.h"
#include "platform/Prompt.h"

#include <QStringList>

#include <array>

namespace {

constexpr int kCurrentValueWaitLinkMs = 1000;

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

int JournalExchange::DownloadJournal(const QString& port, const JournalDownloadOptions& options) {
    CParlinkSession session(showMessages, caption, &failureDetail);
    if (const int opened = OpenTerminal(session, port, options.filters.anySet); opened != ExchangeCode::kOk)
        return opened;
    if (const int reset = SendPendingFilterReset(session); reset != ExchangeCode::kOk) return reset;
    return CJournalDownload(*this, session, port, options).Run();
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
