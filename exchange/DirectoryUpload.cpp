#include "exchange/DirectoryUpload.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/UploadFileReader.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/LeadingInteger.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <climits>

void UploadSelection::Select(int item, bool on) {
    if (item >= 0 && item < kUploadItemCount) m_flags[item].store(on ? 1 : 0);
}

bool UploadSelection::IsSelected(int item) const {
    return item >= 0 && item < kUploadItemCount && m_flags[item].load() != 0;
}

int UploadSelection::SelectedCount() const {
    int count = 0;
    for (const auto& flag : m_flags) count += flag.load() != 0 ? 1 : 0;
    return count;
}

bool UploadSelection::Take(int item) {
    return item >= 0 && item < kUploadItemCount && m_flags[item].exchange(0) != 0;
}

namespace {

// The info table goes last, after every directory kind; it is the
// exchange's own table, so its step is not in the directory kinds' table.
constexpr DirectoryUploadStep kInfoStep = {
    "1F1", "Справочник info", "Внимание! Не могу открыть справочник info!\n", ExchangeCode::kOpenInfo, nullptr,
    "Внимание! Не могу прочитать строку из файла справочника info!\n", ExchangeCode::kReadInfo, nullptr,
    "Ошибка обмена! Ошибка в отправлении таблицы информация!"};

constexpr bool InfoCodesAreItsOwn() {
    for (const DirectoryKindInfo& kind : kDirectoryKinds)
        for (const int code : {kind.upload.openCode, kind.upload.readCode})
            if (code == kInfoStep.openCode || code == kInfoStep.readCode) return false;
    return true;
}
static_assert(InfoCodesAreItsOwn(), "the info table's open/read codes are no directory kind's");
static_assert(UploadInfo == kDirectoryKindCount, "the info table is uploaded after every directory kind");

const DirectoryUploadStep& Step(int item) {
    return item == UploadInfo ? kInfoStep : kDirectoryKinds[item].upload;
}

constexpr int kUploadPasses = 20;
constexpr int kSyncRounds = 37;
constexpr int kSyncPollsPerRound = 101;
constexpr int kSyncPollMs = 50;
constexpr int kFinishPauseMs = 500;
// Synchronise's answer when the terminal confirmed (every result code is >= 0).
constexpr int kSynchronised = -1;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Why an info record cannot make the way to the terminal and back intact
// (the info download gives back exactly what the terminal keeps); empty
// when it can. The end marker alone would end the download there, and the
// terminal and the info file keep Windows-1251.
QString InfoRecordProblem(const QString& record) {
    if (record == QString(QChar(0x0004)))
        return QStringLiteral("it is the character U+0004 alone, which the terminal sends as the end of the table");
    if (CodePage::FromWindows1251(CodePage::ToWindows1251(record)) == record) return QString();
    for (const char32_t c : record.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        if (CodePage::FromWindows1251(CodePage::ToWindows1251(one)) != one)
            return QStringLiteral("it holds the character U+%1, which Windows-1251 (the terminal's code page) "
                                  "cannot hold")
                .arg(QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    return QStringLiteral("it holds a character Windows-1251 cannot hold");
}

QString ItemPath(int item) {
    const DirectoryFiles files = CurrentDirectoryFiles();
    return item == UploadInfo ? files.infoFile : files.directories[item];
}

// Uploads one directory; 0 or the code to end the whole upload with (the
// message is shown and the session closed by the caller's Fail). `sent`
// counts the records of the whole upload.
int UploadOne(CParlinkSession& session, UploadSelection& selection, IExchangeProgress* progress,
              int item, qint64& sent) {
    const DirectoryUploadStep& step = Step(item);
    IParlinkX2& link = session.Link();
    if (progress) {
        progress->StepStage();
        progress->SetStageText(Text(step.stageText));
    }

    static const CodePage::CCodec infoCodec(QString::fromLatin1(CodePage::kWindows1251));
    const CodePage::CCodec& codec = item == UploadInfo ? infoCodec : selection.codec;
    const QString path = ItemPath(item);
    CUploadFileReader reader;
    if (!reader.Open(path, codec)) {
        link.SendCommand(QStringLiteral("ROL"));
        return session.Fail(step.openCode, Text(step.cannotOpen),
                            QStringLiteral("cannot open the file %1: %2")
                                .arg(path.isEmpty() ? QStringLiteral("(no name)") : path, reader.ErrorString()));
    }
    const QString command = QString::fromLatin1(step.command);
    if (!ParlinkSucceeded(link.SendCommand(command))) {
        if (item == Operations) link.SendCommand(QStringLiteral("ROL"));
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Ошибка отправлении команды %1!").arg(command));
    }
    if (progress) progress->SetItemRange(100);

    QByteArray bytes;
    qint64 records = 0;
    const auto sendFailed = [&] {
        reader.Close();
        return session.Fail(ExchangeCode::kNoAnswer, Text(step.sendFailed),
                            QStringLiteral("%1 (port %2; %3 record(s) sent, stopped in %4)")
                                .arg(Text(step.sendFailed), session.Port())
                                .arg(sent)
                                .arg(path));
    };
    while (!reader.HitEnd()) {
        if (progress) progress->StepItem();
        const CUploadFileReader::Result read = reader.Next(&bytes);
        if (read == CUploadFileReader::ReadError) {
            const QString why = reader.ErrorString();
            reader.Close();
            link.SendCommand(QStringLiteral("ROL"));
            return session.Fail(step.readCode, Text(step.cannotRead),
                                QStringLiteral("cannot read the file %1: %2").arg(path, why));
        }
        if (read == CUploadFileReader::EndOfFile) continue;
        const QByteArray line = StripLineEnd(bytes);
        // A Windows-1251 file's records go as they stand, one byte a
        // character, without a conversion to text and back for each.
        if (reader.Codec().IsWindows1251() && item != UploadInfo) {
            if (line.isEmpty()) continue;
            ++records;
            if (SendRecordWindows1251(line, kRecordChunkLength, session, selection.showMessages, progress) != 0)
                return sendFailed();
            ++sent;
            if (selection.transferProgress) selection.transferProgress->Advance(sent);
            continue;
        }
        const QString record = reader.Codec().Decode(line);
        if (record.isEmpty()) continue;
        ++records;
        if (item == UploadInfo) {
            // Refused here rather than lost on the way back: the load is
            // rolled back, nothing of it becomes current.
            if (const QString problem = InfoRecordProblem(record); !problem.isEmpty()) {
                reader.Close();
                link.SendCommand(QStringLiteral("ROL"));
                return session.Fail(step.readCode, Text(step.cannotRead),
                                    QStringLiteral("record %1 of the file %2 cannot be uploaded: %3; nothing was "
                                                   "uploaded")
                                        .arg(records)
                                        .arg(path, problem));
            }
        }
        if (SendRecord(record, kRecordChunkLength, link, selection.showMessages, progress) != 0) return sendFailed();
        ++sent;
        if (selection.transferProgress) selection.transferProgress->Advance(sent);
    }
    reader.Close();
    if (!ParlinkSucceeded(link.EndData()))
        return session.Fail(ExchangeCode::kNoAnswer, Text(step.sendFailed),
                            QStringLiteral("%1 (port %2; the link failed at the end of %3)")
                                .arg(Text(step.sendFailed), session.Port(), path));
    return ExchangeCode::kOk;
}

// Waits for the terminal to confirm ("SYNC") or reject the load.
int Synchronise(CParlinkSession& session, UploadSelection& selection, IExchangeProgress* progress) {
    IParlinkX2& link = session.Link();
    const QString syncFailed = QStringLiteral("Ошибка обмена! Ошибка синхронизации!");
    if (progress) {
        progress->SetStageRange(1);
        progress->StepStage();
        progress->SetStageText(QStringLiteral("Синхронизация"));
    }
    // The code's text names the wait the program was built with; the detail
    // says how long this one really was (a slow terminal's empty answers
    // take their own time on top).
    const auto started = std::chrono::steady_clock::now();
    const auto waited = [&] {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
        return seconds >= 60 ? QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60)
                             : QStringLiteral("%1 s").arg(seconds);
    };
    for (int round = 0; round < kSyncRounds; ++round) {
        if (progress) progress->SetItemRange(100);
        for (int poll = 0; poll < kSyncPollsPerRound; ++poll) {
            if (progress) progress->StepItem();
            if (round == kSyncRounds - 1 && poll == kSyncPollsPerRound - 1)
                return session.Fail(ExchangeCode::kSyncTimeout, syncFailed,
                                    QStringLiteral("the terminal on the port %1 neither confirmed nor rejected "
                                                   "the upload in %2")
                                        .arg(session.Port(), waited()));
            Clock().SleepMs(kSyncPollMs);
            QString answer;
            if (!ParlinkSucceeded(link.Receive(&answer)))
                return session.Fail(ExchangeCode::kNoAnswer, syncFailed);
            if (answer.isEmpty()) continue;
            if (answer == QLatin1String("SYNC")) return kSynchronised;

            // A rejection: "<anything>;<number>;<text>", fields separated by
            // any run of ';', CR and LF.
            const QStringList tokens =
                answer.split(QRegularExpression(QStringLiteral("[;\\r\\n]+")), Qt::SkipEmptyParts);
            const QString garbled =
                QStringLiteral("the terminal answered the upload with \"%1\", which is neither a confirmation "
                               "nor a rejection")
                    .arg(answer);
            if (tokens.size() < 2) {
                session.SetFailureDetail(garbled);
                return session.End(ExchangeCode::kBadSyncAnswer);
            }
            // A negative number would turn the rejection into "no error" or
            // another code of its own; it can only be a garbled answer.
            const int number = LeadingInteger(tokens[1]);
            if (number < 0) {
                session.SetFailureDetail(garbled);
                return session.End(ExchangeCode::kBadSyncAnswer);
            }
            selection.DiagnosticText = tokens.size() > 2 ? tokens[2] : QString();
            session.SetFailureDetail(QStringLiteral("the terminal rejected the upload with number %1: %2")
                                         .arg(tokens[1], selection.DiagnosticText));
            session.Close();
            session.ShowWarning(
                QStringLiteral("%1\nЗагрузка справочников отменена!").arg(selection.DiagnosticText));
            return number > INT_MAX - ExchangeCode::kRejectedBase ? INT_MAX
                                                                   : ExchangeCode::kRejectedBase + number;
        }
    }
    return session.Fail(ExchangeCode::kSyncTimeout, syncFailed);  // not reached
}

}  // namespace

namespace {

// Sends a record of `size` characters as pieces of `chunkLength` through
// `sendPiece(offset, length)`; a record whose length is a multiple of the
// piece length ends with an empty piece.
template <class SendPiece>
int SendPieces(qsizetype size, int chunkLength, bool showMessages, IExchangeProgress* progress,
               SendPiece sendPiece) {
    if (showMessages && progress) progress->StepItem();
    if (chunkLength <= 0) chunkLength = static_cast<int>(std::max<qsizetype>(size, 1));
    qsizetype offset = 0;
    do {
        if (!ParlinkSucceeded(sendPiece(offset, std::min<qsizetype>(chunkLength, size - offset))))
            return ExchangeCode::kNoAnswer;
        offset += chunkLength;
    } while (offset <= size);
    return ExchangeCode::kOk;
}

}  // namespace

int SendRecord(const QString& text, int chunkLength, IParlinkX2& link, bool showMessages,
               IExchangeProgress* progress) {
    return SendPieces(text.size(), chunkLength, showMessages, progress,
                      [&](qsizetype at, qsizetype length) { return link.SendData(text.mid(at, length)); });
}

int SendRecordWindows1251(QByteArrayView bytes, int chunkLength, CParlinkSession& session, bool showMessages,
                          IExchangeProgress* progress) {
    return SendPieces(bytes.size(), chunkLength, showMessages, progress, [&](qsizetype at, qsizetype length) {
        return session.SendDataWindows1251(bytes.sliced(at, length));
    });
}

int UploadDirectories(UploadSelection& selection, const QString& port) {
    selection.DiagnosticText.clear();
    IExchangeProgress* progress = selection.showMessages ? selection.progressWindow : nullptr;
    const OpeningMessages messages{QStringLiteral("Ошибка! Не могу найти компоненту Parlink"),
                                   QStringLiteral("Ошибка! Не могу создать Parlink обьект!"),
                                   QStringLiteral("Ошибка! Не могу открыть порт %1!").arg(port),
                                   QStringLiteral("Ошибка! Терминал не отвечает! (порт %1)").arg(port)};
    const QString noAnswer = QStringLiteral("Ошибка обмена! Терминал не отвечает!");

    CParlinkSession session(selection.showMessages, selection.caption, &selection.failureDetail);
    if (const int opened = session.Open(port, messages); opened != ExchangeCode::kOk) return opened;
    IParlinkX2& link = session.Link();

    if (const int clock = SendTerminalClock(session, noAnswer); clock != ExchangeCode::kOk) return clock;
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("002"))))
        return session.Fail(ExchangeCode::kNoAnswer, noAnswer);

    if (selection.transferProgress) {
        qint64 total = 0;
        for (int item = 0; item < kUploadItemCount; ++item)
            if (selection.IsSelected(item)) total += CountRecordLines(ItemPath(item));
        selection.transferProgress->Begin(QStringLiteral("upload"), total);
    }
    // Later passes pick up a directory that was selected again while the
    // upload ran.
    qint64 sent = 0;
    for (int pass = 0; pass < kUploadPasses; ++pass) {
        for (int item = 0; item < kUploadItemCount; ++item) {
            if (!selection.Take(item)) continue;
            if (const int code = UploadOne(session, selection, progress, item, sent); code != ExchangeCode::kOk)
                return code;
        }
    }
    if (selection.transferProgress) selection.transferProgress->Finish();

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("003"))))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Ошибка отправлении команды 003!"));
    if (const int synced = Synchronise(session, selection, progress); synced != kSynchronised)
        return synced;

    if (selection.showMessages) {
        if (progress) {
            progress->SetItemRange(1);
            progress->StepItem();
        }
        Clock().SleepMs(kFinishPauseMs);
    }
    // The load is stored; the exchange counts as ended once the terminal
    // confirmed its end (End turns an unconfirmed end into 4).
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("004")))) return session.Fail(ExchangeCode::kNoAnswer, noAnswer);
    return session.End(ExchangeCode::kOk);
}
