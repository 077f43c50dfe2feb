#include "components/parlink/PortNames.h"

#include "platform/ProfileFile.h"

#include <QRegularExpression>

namespace {

const QString kLocalPrefix = QStringLiteral("local:");
const QString kTcpPrefix = QStringLiteral("tcp:");

bool IsHostNameChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' || u == '.' ||
           u == '_';
}

bool IsIpv6Char(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F') || (u >= '0' && u <= '9') || u == ':' || u == '.';
}

CPortTarget Direct(const QString& name) {
    CPortTarget t;
    if (name.startsWith(kTcpPrefix, Qt::CaseInsensitive)) {
        t.kind = CPortTarget::Kind::Tcp;
        // A malformed name keeps an empty host: opening it fails as a port
        // that cannot be opened, never as some other port.
        if (!ParseTcpPortName(name, &t.address, &t.tcpPort)) {
            t.address.clear();
            t.tcpPort = 0;
        }
    } else if (name.startsWith(kLocalPrefix, Qt::CaseInsensitive)) {
        t.kind = CPortTarget::Kind::LocalSocket;
        t.address = name.mid(kLocalPrefix.size());
    } else {
        t.kind = CPortTarget::Kind::Serial;
        t.address = name;
    }
    return t;
}

}  // namespace

bool ParseTcpPortName(const QString& name, QString* host, quint16* port, bool allowPortZero) {
    if (!name.startsWith(kTcpPrefix, Qt::CaseInsensitive)) return false;
    const QString rest = name.mid(kTcpPrefix.size());
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) return false;
    QString h = rest.left(colon);
    const QString digits = rest.mid(colon + 1);
    if (digits.isEmpty() || digits.size() > 5) return false;
    quint32 value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        value = value * 10 + static_cast<quint32>(c.unicode() - '0');
    }
    if (value > 65535 || (value == 0 && !allowPortZero)) return false;
    if (h.startsWith(QLatin1Char('['))) {
        if (!h.endsWith(QLatin1Char(']')) || h.size() < 4 || h.size() > 47) return false;
        h = h.mid(1, h.size() - 2);
        if (!h.contains(QLatin1Char(':'))) return false;
        for (const QChar c : h)
            if (!IsIpv6Char(c)) return false;
    } else {
        if (h.size() > 253 || h.startsWith(QLatin1Char('-')) || h.startsWith(QLatin1Char('.'))) return false;
        for (const QChar c : h)
            if (!IsHostNameChar(c)) return false;
    }
    if (host) *host = h.toLower();
    if (port) *port = static_cast<quint16>(value);
    return true;
}

QString TcpEndpointText(const QString& host, quint16 port) {
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return h + QLatin1Char(':') + QString::number(port);
}

QString DefaultPortDevice(const QString& key) {
    static const QRegularExpression com(QStringLiteral("^COM([0-9]{1,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(key);
    if (m.hasMatch()) {
        const int n = m.captured(1).toInt();
        if (n >= 1) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    if (key.compare(QLatin1String("WCEUSBSH001"), Qt::CaseInsensitive) == 0 ||
        key.compare(QLatin1String("USB"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("/dev/ttyUSB0");
    if (key.compare(QLatin1String("ActiveSync"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("/dev/ttyACM0");
    return QString();
}

CPortTarget ResolvePortName(const QString& portName, const QStringList& settingsFiles) {
    const QString name = portName.trimmed();
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(kLocalPrefix, Qt::CaseInsensitive) ||
        name.startsWith(kTcpPrefix, Qt::CaseInsensitive))
        return Direct(name);
    QString key = name;
    if (key.startsWith(QLatin1String("\\\\.\\"))) key = key.mid(4);
    if (key.isEmpty()) return Direct(name);
    QString mapped = Profile::ReadLayeredString(settingsFiles, QStringLiteral("ports"), key).trimmed();
    if (mapped.isEmpty()) mapped = DefaultPortDevice(key);
    if (mapped.isEmpty()) return Direct(name);
    return Direct(mapped);
}
