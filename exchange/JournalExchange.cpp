#include "exchange/JournalExchange.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/TerminalSession.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/TextFile.h"

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
        if (showMessages) Prompt().Error(QString::fromUtf8(message), caption);
        return ExchangeCode::kNoAnswer;
    };
    if (!firmwareChecked) {
        link.SendCommand(QStringLiteral("--s"));
        QString answer;
        link.Receive(&answer);
        if (!FirmwareSupportsFilters(AnswerField(SplitAnswer(answer), 2)))
            return ExchangeCode::kFirmwareTooOld;
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

int JournalExchange::DownloadJournal(const QString& port, bool journalIdOn, bool countOnly,
                                     const FilterSet& filters, bool overwrite) {
    IExchangeProgress* progress = showMessages ? progressWindow : nullptr;
    CParlinkSession session(showMessages, caption);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    IParlinkX2& link = session.Link();

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("998"))))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    QString answer;
    if (!ParlinkSucceeded(link.Receive(&answer)))
        return session.Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Команда 998"));
    {
        // "<ready flag>;<text>": a missing text is shown as an empty warning.
        const QStringList fields = SplitAnswer(answer);
        if (LeadingInteger(AnswerField(fields, 1)) != 1) {
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
        if (const int sent = SendFilters(link, &filters); sent != ExchangeCode::kOk) return session.End(sent);
    }

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("020"))))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Ошибка отправлении команды 020!"));
    answer.clear();
    if (!ParlinkSucceeded(link.Receive(&answer)))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Команда запроса кол-ва строк в журнале"));
    const int announced = LeadingInteger(answer);
    if (announced == 0) {
        session.Close();
        session.ShowWarning(QStringLiteral("Ошибка! В терминале нет данных!"));
        return ExchangeCode::kJournalEmpty;
    }

    const QString cannotOpen = QStringLiteral("Не могу открыть файл на запись журнала!");
    CTextFileWriter file;
    if (!file.Open(CurrentDirectoryFiles().journalFile,
                   overwrite ? TextFileMode::Replace : TextFileMode::Append,
                   CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return session.Fail(ExchangeCode::kJournalFileNotCreated, cannotOpen);

    if (countOnly) {
        // The count alone, without a line end: successive appended counts
        // follow each other directly.
        const bool written = file.WriteRaw(QByteArray::number(announced));
        if (!file.Close() || !written) return session.Fail(ExchangeCode::kJournalFileNotCreated, cannotOpen);
        if (filters.anySet) SendFilters(link, nullptr);
        return session.End(ExchangeCode::kOk);
    }

    if (!ParlinkSucceeded(link.SendCommand(journalIdOn ? QStringLiteral("031") : QStringLiteral("021")))) {
        file.Close();
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Ошибка в отправлении команды 021!"));
    }
    if (progress) progress->SetItemRange(announced);

    int written = 0;
    for (;;) {
        QString line;
        if (!ParlinkSucceeded(link.Receive(&line))) {
            file.Close();
            return session.Fail(ExchangeCode::kNoAnswer,
                                QStringLiteral("Ошибка обмена! Команда построчное получение журнала"));
        }
        if (line.startsWith(kEndOfStream)) break;
        // Only a line the file took counts, so a full disk shows up as a
        // short journal instead of passing silently.
        if (file.Write(line + QLatin1Char('\n'))) ++written;
        if (progress) progress->StepItem();
    }
    if (!file.Close()) written = 0;

    int result = ExchangeCode::kOk;
    if (written != announced) {
        session.ShowError(QStringLiteral("Внимание! Ошибка обмена - выгружено штрихкодов меньше заявленного!"));
        result = ExchangeCode::kJournalShort;
    }
    if (filters.anySet) SendFilters(link, nullptr);
    link.SendCommand(QStringLiteral("004"));
    return session.End(result);
}

int JournalExchange::ApplyFilters(const QString& port, const FilterSet& filters) {
    CParlinkSession session(showMessages, caption);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    return session.End(SendFilters(session.Link(), &filters));
}

int JournalExchange::ClearJournal(const QString& port) {
    CParlinkSession session(showMessages, caption);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    if (!ParlinkSucceeded(session.Link().SendCommand(QStringLiteral("001"))))
        return session.Fail(ExchangeCode::kNoAnswer, NoAnswerText());
    return session.End(ExchangeCode::kOk);
}

int JournalExchange::SetCurrentValues(const QString& port, const CurrentValues& values) {
    CParlinkSession session(showMessages, caption);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
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
