#include "components/parlink/PortNames.h"

#include "platform/ProfileFile.h"

#include <QRegularExpression>

namespace {

const QString kLocalPrefix = QStringLiteral("local:");

CPortTarget Direct(const QString& name) {
    CPortTarget t;
    if (name.startsWith(kLocalPrefix, Qt::CaseInsensitive)) {
        t.kind = CPortTarget::Kind::LocalSocket;
        t.address = name.mid(kLocalPrefix.size());
    } else {
        t.kind = CPortTarget::Kind::Serial;
        t.address = name;
    }
    return t;
}

}  // namespace

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
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(kLocalPrefix, Qt::CaseInsensitive))
        return Direct(name);
    QString key = name;
    if (key.startsWith(QLatin1String("\\\\.\\"))) key = key.mid(4);
    if (key.isEmpty()) return Direct(name);
    QString mapped = Profile::ReadLayeredString(settingsFiles, QStringLiteral("ports"), key).trimmed();
    if (mapped.isEmpty()) mapped = DefaultPortDevice(key);
    if (mapped.isEmpty()) return Direct(name);
    return Direct(mapped);
}
