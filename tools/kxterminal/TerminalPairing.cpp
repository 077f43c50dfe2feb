#include "tools/kxterminal/TerminalPairing.h"

#include "components/parlink/TlsIdentity.h"
#include "platform/ProfileFile.h"

#include <QDateTime>
#include <QRandomGenerator>

CTerminalPairing::CTerminalPairing(const QString& stateFolder, std::function<void(const QString&)> show)
    : m_folder(stateFolder.endsWith(QLatin1Char('/')) ? stateFolder : stateFolder + QLatin1Char('/')),
      m_show(std::move(show)) {}

QString CTerminalPairing::IdentityFile() const { return m_folder + QStringLiteral("tls-identity.pem"); }
QString CTerminalPairing::PinsFile() const { return m_folder + QStringLiteral("pins.txt"); }

CTerminalPairing::State CTerminalPairing::Load() const {
    const QStringList file{m_folder + QStringLiteral("pairing.ini")};
    const QString section = QStringLiteral("pairing");
    State s;
    s.code = Profile::ReadLayeredString(file, section, QStringLiteral("Code")).trimmed();
    s.created = Profile::ReadLayeredString(file, section, QStringLiteral("Created")).trimmed().toLongLong();
    s.attempts = Profile::ReadLayeredInt(file, section, QStringLiteral("Attempts"), 0);
    return s;
}

bool CTerminalPairing::Good(const State& s) const {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    bool digits = s.code.size() == 6;
    for (const QChar c : s.code) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    // A code from the future (a clock set back) is not trusted either.
    return digits && s.attempts >= 0 && s.attempts < kMaxAttempts && s.created <= now + 60 &&
           now - s.created < kCodeLifetimeSeconds;
}

bool CTerminalPairing::Save(const State& s) const {
    const QByteArray text = QStringLiteral("[pairing]\r\nCode=%1\r\nCreated=%2\r\nAttempts=%3\r\n")
                                .arg(s.code)
                                .arg(s.created)
                                .arg(s.attempts)
                                .toLatin1();
    QString error;
    return WritePrivateFile(m_folder + QStringLiteral("pairing.ini"), text, &error);
}

CTerminalPairing::State CTerminalPairing::Renew() {
    State s;
    s.code = QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
    s.created = QDateTime::currentSecsSinceEpoch();
    s.attempts = 0;
    // When it cannot be stored the next connection makes yet another code:
    // never one that outlives its attempts.
    Save(s);
    if (m_show) m_show(s.code);
    return s;
}

QString CTerminalPairing::CurrentCode(bool* renewed) {
    std::lock_guard guard(m_lock);
    State s = Load();
    if (renewed) *renewed = !Good(s);
    if (!Good(s)) s = Renew();
    return s.code;
}

bool CTerminalPairing::BeginAttempt(QString* code) {
    std::lock_guard guard(m_lock);
    State s = Load();
    if (!Good(s)) {
        Renew();
        return false;
    }
    // Counted before the answer goes out: a peer that hangs up halfway still
    // spent its attempt.
    ++s.attempts;
    if (!Save(s)) return false;
    *code = s.code;
    return true;
}

void CTerminalPairing::EndAttempt(bool paired) {
    std::lock_guard guard(m_lock);
    const State s = Load();
    if (paired || s.attempts >= kMaxAttempts) Renew();
}

bool CTerminalPairing::IsPinned(const QByteArray& fingerprint) const {
    if (fingerprint.isEmpty()) return false;
    QList<CLinkPin> pins;
    QString error;
    if (!ReadLinkPins(PinsFile(), &pins, &error)) return false;
    for (const CLinkPin& pin : pins)
        if (pin.fingerprint == fingerprint) return true;
    return false;
}
