#include "tools/kxsync/TerminalList.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

bool IsUsableTerminalName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$"));
    return pattern.match(name).hasMatch();
}

bool ParseTerminalList(const QByteArray& text, const QString& source, QList<SyncTerminal>* terminals,
                       QString* error) {
    terminals->clear();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder.decode(text);
    if (decoder.hasError()) {
        *error = QStringLiteral("%1: not UTF-8 text").arg(source);
        return false;
    }
    const auto fail = [&](int line, const QString& what) {
        *error = QStringLiteral("%1:%2: %3").arg(source).arg(line).arg(what);
        return false;
    };
    QSet<QString> names, ports;
    const QStringList lines = decoded.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int line = i + 1;
        const QString content = lines[i].trimmed();
        if (content.isEmpty() || content.startsWith(QLatin1Char('#'))) continue;
        static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
        const QStringList fields = content.split(blanks, Qt::SkipEmptyParts);
        if (fields.size() != 2)
            return fail(line, QStringLiteral("expected a terminal name and a port, found %1 word(s): %2")
                                  .arg(fields.size())
                                  .arg(content));
        SyncTerminal terminal{fields[0], fields[1], line};
        if (!IsUsableTerminalName(terminal.name))
            return fail(line, QStringLiteral("the terminal name \"%1\" cannot be used: a name is 1 to 64 letters "
                                             "A-Z a-z, digits, '.', '_' or '-', starting with a letter or a digit")
                                  .arg(terminal.name));
        if (names.contains(terminal.name.toLower()))
            return fail(line, QStringLiteral("the terminal name \"%1\" is in the list twice (names are compared "
                                             "regardless of case)")
                                  .arg(terminal.name));
        if (ports.contains(terminal.port))
            return fail(line, QStringLiteral("the port %1 is in the list twice").arg(terminal.port));
        names.insert(terminal.name.toLower());
        ports.insert(terminal.port);
        terminals->append(terminal);
    }
    if (terminals->isEmpty()) {
        *error = QStringLiteral("%1: no terminal in the list").arg(source);
        return false;
    }
    return true;
}

bool ReadTerminalList(const QString& path, QList<SyncTerminal>* terminals, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the terminal list %1: %2").arg(path, file.errorString());
        return false;
    }
    // A list of terminals is a few lines; anything larger is no list.
    constexpr qint64 kMaxListBytes = 1 << 20;
    const QByteArray text = file.read(kMaxListBytes + 1);
    if (text.size() > kMaxListBytes) {
        *error = QStringLiteral("%1: larger than 1 MiB: no terminal list").arg(path);
        return false;
    }
    return ParseTerminalList(text, path, terminals, error);
}
