#include "tools/kxupdate_pc/Updater.h"

#include "components/parlink/protocol/LinkCrc.h"
#include "exchange/ComponentRegistry.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/ParlinkSession.h"
#include "exchange/TerminalAnswer.h"
#include "platform/Clock.h"

#include <QFile>
#include <QFileInfo>

namespace {

bool IsSwitch(const QString& word, QChar letter) {
    return word.size() == 2 && (word[0] == u'/' || word[0] == u'-') && word[1].toLower() == letter;
}

bool IsAnySwitch(const QString& word) {
    return word.size() == 2 && (word[0] == u'/' || word[0] == u'-') && word[1].isLetter();
}

}  // namespace

bool ParseUpdaterArguments(const QStringList& arguments, UpdaterArguments* result, QString* error) {
    QStringList portWords;
    QStringList fileWords;
    bool havePort = false;
    bool haveFile = false;
    QStringList* target = nullptr;
    bool switchesEnded = false;
    const auto fail = [error](const QString& why) {
        *error = why;
        return false;
    };
    for (const QString& word : arguments) {
        if (!switchesEnded && word == QLatin1String("--")) {
            switchesEnded = true;  // a file named like a switch follows
        } else if (switchesEnded) {
            if (!target) return fail(QStringLiteral("unexpected word ") + word);
            target->append(word);
        } else if (IsSwitch(word, u'p')) {
            if (havePort) return fail(QStringLiteral("/p given twice"));
            havePort = true;
            target = &portWords;
        } else if (IsSwitch(word, u'u')) {
            if (haveFile) return fail(QStringLiteral("/u given twice"));
            haveFile = true;
            target = &fileWords;
        } else if (IsAnySwitch(word)) {
            return fail(QStringLiteral("unknown switch ") + word);
        } else if (!target) {
            return fail(QStringLiteral("unexpected word ") + word);
        } else {
            target->append(word);
        }
    }
    if (!havePort || portWords.isEmpty()) return fail(QStringLiteral("no port (/p PORT)"));
    if (!haveFile || fileWords.size() < 2)
        return fail(QStringLiteral("no file and remote path (/u FILE REMOTE)"));
    result->port = portWords.join(QLatin1Char(' '));
    result->remote = fileWords.takeLast();
    result->file = fileWords.join(QLatin1Char(' '));
    return true;
}

int SendFileOverLink(IParlinkX2& link, const QByteArray& content, const QString& remote, QString* log) {
    const auto lost = [&](const char* step) {
        *log = QStringLiteral("the link failed while %1").arg(QLatin1String(step));
        // Tell the terminal to drop what it has; it drops it anyway when the
        // session ends without the file's end.
        link.SendCommand(QStringLiteral("FPA"));
        return UpdaterExit::kNoAnswer;
    };
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("FPB"))) || !ParlinkSucceeded(link.SendData(remote)))
        return lost("starting the transfer");
    std::uint32_t crc = 0;
    for (qsizetype offset = 0; offset < content.size(); offset += kUpdaterChunkBytes) {
        const QByteArray chunk = content.mid(offset, kUpdaterChunkBytes);
        crc = Link::Crc32(chunk.constData(), static_cast<std::size_t>(chunk.size()), crc);
        if (!ParlinkSucceeded(link.SendData(QString::fromLatin1(chunk.toBase64()))))
            return lost("sending the file");
    }
    const QString check = QStringLiteral("%1;%2").arg(content.size()).arg(crc, 8, 16, QLatin1Char('0'));
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("FPE"))) || !ParlinkSucceeded(link.SendData(check)))
        return lost("ending the transfer");

    QString answer;
    for (int tries = 0; answer.isEmpty() && tries < kUpdaterAnswerTries; ++tries) {
        if (tries > 0) Clock().SleepMs(kUpdaterAnswerPauseMs);
        if (!ParlinkSucceeded(link.Receive(&answer))) {
            *log = QStringLiteral("no answer from the terminal");
            return UpdaterExit::kNoAnswer;
        }
    }
    const QStringList fields = answer.split(QLatin1Char(';'));
    if (fields.value(0) == QLatin1String("OK") && fields.size() >= 2 &&
        fields[1].toLongLong() == content.size()) {
        *log = QStringLiteral("%1 bytes stored as %2").arg(content.size()).arg(remote);
        return UpdaterExit::kOk;
    }
    if (fields.value(0) == QLatin1String("ERR")) {
        *log = QStringLiteral("the terminal refused the file: %1").arg(fields.mid(1).join(QLatin1Char(';')));
        return UpdaterExit::kRefused;
    }
    *log = answer.isEmpty() ? QStringLiteral("no answer from the terminal")
                            : QStringLiteral("unexpected answer from the terminal: %1").arg(answer);
    return UpdaterExit::kNoAnswer;
}

int RunUpdater(const UpdaterArguments& arguments, QString* log) {
    QFile file(arguments.file);
    if (QFileInfo(arguments.file).isDir() || !file.open(QIODevice::ReadOnly)) {
        *log = QStringLiteral("cannot read %1").arg(arguments.file);
        return UpdaterExit::kFileUnreadable;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *log = QStringLiteral("cannot read %1: %2").arg(arguments.file, file.errorString());
        return UpdaterExit::kFileUnreadable;
    }
    file.close();

    CParlinkHolder link;
    QString why;
    switch (CreateParlinkComponent(&link, &why)) {
    case ExchangeCode::kOk: break;
    case ExchangeCode::kComponentNotRegistered:
        *log = QStringLiteral("the link component %1 is not registered: %2").arg(QLatin1String(kParlinkProgId), why);
        return UpdaterExit::kComponentNotRegistered;
    default:
        *log = QStringLiteral("the link component %1 cannot be created: %2").arg(QLatin1String(kParlinkProgId), why);
        return UpdaterExit::kComponentNotCreated;
    }
    const QString componentPort = ComponentPortName(arguments.port);
    if (!ParlinkSucceeded(link->OpenPort(componentPort))) {
        *log = PortOpenFailureDetail(arguments.port, link.OpenPortProblem(componentPort));
        return UpdaterExit::kPortNotOpened;
    }
    int code = UpdaterExit::kNoAnswer;
    if (!ParlinkSucceeded(link->WaitLink(kUpdaterWaitLinkMs)))
        *log = QStringLiteral("the terminal does not answer on %1").arg(arguments.port);
    else
        code = SendFileOverLink(*link, content, arguments.remote, log);
    // The session counts as ended only when the terminal confirmed it.
    if (!ParlinkSucceeded(link->ClosePort()) && code == UpdaterExit::kOk) {
        *log += QStringLiteral(", but the terminal on %1 did not confirm the end of the session").arg(arguments.port);
        code = UpdaterExit::kNoAnswer;
    }
    return code;
}
