#include "exchange/InfoTable.h"

#include "directories/DirectoryFiles.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/StagedDownload.h"

namespace {
constexpr QChar kEndOfStream = QChar(0x0004);
}  // namespace

int DownloadInfoTable(UploadSelection& selection, const QString& port) {
    const QString noAnswer = QStringLiteral("Ошибка обмена! Терминал не отвечает!");
    const QString cannotCreate = QStringLiteral("Не удается открыть файл таблицы информации на запись!");

    CParlinkSession session(selection.showMessages, selection.caption, &selection.failureDetail);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    IParlinkX2& link = session.Link();

    if (const int clock = SendTerminalClock(session, noAnswer); clock != ExchangeCode::kOk) return clock;

    // The info file is Windows-1251 whatever the directory files use. The
    // records go beside it first: the file is replaced only by a whole table.
    const QString target = CurrentDirectoryFiles().infoFile;
    CStagedDownload file;
    const QString records = QStringLiteral("record(s)");
    if (!file.Open(target, TextFileMode::Replace, CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return session.Fail(ExchangeCode::kInfoFileNotCreated, cannotCreate, file.CannotWriteDetail());

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("1F2"))))
        return session.Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена! Ошибка в отправлении команды 1F2!"));
    ITransferProgress* progress = selection.transferProgress;
    if (progress) progress->Begin(QStringLiteral("info table"), 0);
    qint64 received = 0;
    for (;;) {
        QString answer;
        if (!ParlinkSucceeded(link.Receive(&answer))) {
            const QString detail = QStringLiteral("the link on the port %1 failed after %2 info record(s)")
                                       .arg(port)
                                       .arg(received) +
                                   file.KeptNote(received, records);
            return session.Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена!"), detail);
        }
        // The end marker is a whole answer of its own; a record may begin
        // with the same character.
        if (answer == kEndOfStream) break;
        // Every record is written whole, however long; a record the disk did
        // not take is reported instead of being lost silently.
        if (!file.WriteRecord(answer))
            return session.Fail(ExchangeCode::kInfoFileNotCreated, cannotCreate,
                                file.CannotWriteDetail() + file.KeptNote(received, records));
        ++received;
        if (progress) progress->Advance(received);
    }
    // The table replaces the file only once the terminal confirmed the end
    // of the session; until then the old file stays as it was.
    if (!session.Close()) {
        session.SetFailureDetail(
            QStringLiteral("the terminal on the port %1 did not confirm the end of the info table download").arg(port) +
            file.KeptNote(received, records));
        session.ShowError(noAnswer);
        return ExchangeCode::kNoAnswer;
    }
    if (!file.Commit(selection.busyFileWaitMs))
        return session.Fail(ExchangeCode::kInfoFileNotCreated, cannotCreate,
                            file.CannotWriteDetail() + file.KeptNote(received, records));
    return ExchangeCode::kOk;
}
