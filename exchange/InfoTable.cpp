#include "directories/DirectoryFiles.h"
#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/TerminalSession.h"
#include "platform/TextFile.h"

namespace {
constexpr QChar kEndOfStream = QChar(0x0004);
}

int DownloadInfoTable(UploadSelection& selection, const QString& port) {
    const QString noAnswer = QStringLiteral("Ошибка обмена! Терминал не отвечает!");
    const QString cannotCreate = QStringLiteral("Не удается открыть файл таблицы информации на запись!");

    CParlinkSession session(selection.showMessages, selection.caption);
    if (const int opened = session.Open(port, StandardOpeningMessages()); opened != ExchangeCode::kOk)
        return opened;
    IParlinkX2& link = session.Link();

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("303"))))
        return session.Fail(ExchangeCode::kNoAnswer, noAnswer);
    if (!ParlinkSucceeded(link.SendData(TerminalTimeStamp())))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 303(2)!"));

    // The info file is Windows-1251 whatever the directory files use.
    CTextFileWriter file;
    if (!file.Open(CurrentDirectoryFiles().infoFile, TextFileMode::Replace,
                   CodePage::CCodec(QString::fromLatin1(CodePage::kWindows1251))))
        return session.Fail(ExchangeCode::kInfoFileNotCreated, cannotCreate);

    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("1F2")))) {
        file.Close();
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Ошибка в отправлении команды 1F2!"));
    }
    for (;;) {
        QString answer;
        if (!ParlinkSucceeded(link.Receive(&answer))) {
            file.Close();
            return session.Fail(ExchangeCode::kNoAnswer, QStringLiteral("Ошибка обмена!"));
        }
        if (answer.startsWith(kEndOfStream)) break;
        // Every record is written whole, however long; a record the disk did
        // not take is reported instead of being lost silently.
        if (!file.Write(answer + QLatin1Char('\n'))) {
            file.Close();
            return session.Fail(ExchangeCode::kInfoFileNotCreated, cannotCreate);
        }
    }
    if (!file.Close()) return session.Fail(ExchangeCode::kInfoFileNotCreated, cannotCreate);
    return session.End(ExchangeCode::kOk);
}
