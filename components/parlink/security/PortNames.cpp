#include "components/parlink/security/PortNames.h"

#include "platform/ProfileFile.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString kLocalPrefix = QStringLiteral("local:");
const QString kTcpPrefix = QStringLiteral("tcp:");
constexpr qsizetype kFewestFingerprintDigits = 16;
constexpr qsizetype kFingerprintDigits = 64;

enum class NameForm { Windows, Device, LocalSocket, Tcp };

// Names that say what they are are used as they stand; the others are
// Windows names, looked up first.
NameForm FormOf(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) return NameForm::Device;
    if (name.startsWith(kLocalPrefix, Qt::CaseInsensitive)) return NameForm::LocalSocket;
    if (name.startsWith(kTcpPrefix, Qt::CaseInsensitive)) return NameForm::Tcp;
    return NameForm::Windows;
}

bool IsFingerprintStart(const QString& hex) {
    return hex.size() >= kFewestFingerprintDigits && hex.size() <= kFingerprintDigits &&
           std::all_of(hex.begin(), hex.end(), [](QChar c) { return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')); });
}

CPortTarget TcpTarget(const QString& name) {
    CPortTarget t;
    t.kind = CPortTarget::Kind::Tcp;
    const qsizetype hash = name.indexOf(QLatin1Char('#'));
    const QString fingerprint = hash < 0 ? QString() : name.mid(hash + 1);
    // A malformed name keeps an empty host: opening it fails as a port that
    // cannot be opened, never as some other port.
    if ((hash >= 0 && !IsFingerprintStart(fingerprint)) || !ParseTcpPortName(name.left(hash), &t.address, &t.tcpPort))
        return CPortTarget{CPortTarget::Kind::Tcp, QString(), 0, QString()};
    t.fingerprint = fingerprint.toLower();
    return t;
}

CPortTarget Direct(const QString& name) {
    switch (FormOf(name)) {
    case NameForm::Tcp: return TcpTarget(name);
    case NameForm::LocalSocket: return CPortTarget{CPortTarget::Kind::LocalSocket, name.mid(kLocalPrefix.size()), 0, QString()};
    case NameForm::Device:
    case NameForm::Windows: break;
    }
    return CPortTarget{CPortTarget::Kind::Serial, name, 0, QString()};
}

bool IsHostNameChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' || u == '.' ||
           u == '_';
}

}  // namespace

bool ParseTcpPortName(const QString& name, QString* host, quint16* port, bool allowPortZero) {
    if (FormOf(name) != NameForm::Tcp) return false;
    const QString rest = name.mid(kTcpPrefix.size());
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) return false;
    QString h = rest.left(colon);
    const QString digits = rest.mid(colon + 1);
    // toUShort alone would also take a sign or blanks around the digits.
    bool number = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; });
    const quint16 value = number ? digits.toUShort(&number) : 0;
    if (!number || (value == 0 && !allowPortZero)) return false;
    if (h.startsWith(QLatin1Char('['))) {
        if (!h.endsWith(QLatin1Char(']'))) return false;
        h = h.mid(1, h.size() - 2);
        // An address only, as it stands (QHostAddress would forgive blanks
        // around it): a scope ("%eth0") names this computer's interface,
        // nothing a terminal's pin can stand for.
        if (h != h.trimmed() || h.contains(QLatin1Char('%')) ||
            QHostAddress(h).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else {
        if (h.size() > 253 || h.startsWith(QLatin1Char('-')) || h.startsWith(QLatin1Char('.'))) return false;
        if (!std::all_of(h.begin(), h.end(), IsHostNameChar)) return false;
    }
    if (host) *host = h.toLower();
    if (port) *port = value;
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
    if (FormOf(name) != NameForm::Windows) return Direct(name);
    QString key = name;
    if (key.startsWith(QLatin1String("\\\\.\\"))) key = key.mid(4);
    if (key.isEmpty()) return Direct(name);
    QString mapped = Profile::ReadLayeredString(settingsFiles, QStringLiteral("ports"), key).trimmed();
    if (mapped.isEmpty()) mapped = DefaultPortDevice(key);
    if (mapped.isEmpty()) return Direct(name);
    return Direct(mapped);
}
