#include "exchange/FilterResetNote.h"

#include <QFile>
#include <QSaveFile>

namespace {
QString Key(const QString& port) { return port.trimmed(); }
}  // namespace

QStringList CFilterResetNote::Ports() const {
    if (m_path.isEmpty()) return {};
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList ports;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QString port = Key(line);
        if (!port.isEmpty() && !ports.contains(port)) ports << port;
    }
    return ports;
}

bool CFilterResetNote::Pending(const QString& port) const { return Ports().contains(Key(port)); }

bool CFilterResetNote::Add(const QString& port, QString* error) const {
    if (m_path.isEmpty()) return true;
    QStringList ports = Ports();
    if (ports.contains(Key(port))) return true;
    ports << Key(port);
    return Write(ports, error);
}

bool CFilterResetNote::Remove(const QString& port) const {
    if (m_path.isEmpty()) return true;
    QStringList ports = Ports();
    if (!ports.removeAll(Key(port))) return true;
    if (ports.isEmpty()) return QFile::remove(m_path) || !QFile::exists(m_path);
    return Write(ports, nullptr);
}

bool CFilterResetNote::Write(const QStringList& ports, QString* error) const {
    QSaveFile file(m_path);
    const QByteArray bytes = (ports.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    const auto failed = [&] {
        if (error) *error = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly)) return failed();
    if (file.write(bytes) != bytes.size()) {
        failed();
        file.cancelWriting();
        return false;
    }
    return file.commit() || failed();
}
