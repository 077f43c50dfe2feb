#include "tools/kxterminal/TerminalPairing.h"

#include "components/parlink/security/TlsIdentity.h"
#include "filesafety/PrivateFile.h"
#include "platform/ProfileFile.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>

CTerminalPairing::CTerminalPairing(const QString& stateFolder, std::function<void(const QString&)> show, Clock clock)
    : m_folder(stateFolder.endsWith(QLatin1Char('/')) ? stateFolder : stateFolder + QLatin1Char('/')),
      m_show(std::move(show)),
      m_clock(std::move(clock)) {}

QString CTerminalPairing::IdentityFile() const { return m_folder + QStringLiteral("tls-identity.pem"); }
QString CTerminalPairing::PinsFile() const { return m_folder + QStringLiteral("pins.txt"); }

qint64 CTerminalPairing::Now() const { return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch(); }

CTerminalPairing::State CTerminalPairing::Load() const {
    const QStringList file{m_folder + QStringLiteral("pairing.ini")};
    const QString section = QStringLiteral("pairing");
    const auto number = [&](const char* key) {
        return Profile::ReadLayeredString(file, section, QLatin1String(key)).trimmed().toLongLong();
    };
    State s;
    s.window = number("Window");
    s.code = Profile::ReadLayeredString(file, section, QStringLiteral("Code")).trimmed();
    s.attempts = static_cast<int>(number("Attempts"));
    s.codes = static_cast<int>(number("Codes"));
    s.failures = static_cast<int>(number("Failures"));
    s.notBefore = number("NotBefore");
    return s;
}

bool CTerminalPairing::Open(const State& s, qint64 nowMs) const {
    const qint64 now = nowMs / 1000;
    bool digits = s.code.size() == 6;
    for (const QChar c : s.code) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    // A window from the future (a clock set back) is not trusted either, and
    // counts that do not add up mean a damaged or edited file: closed.
    return digits && s.window > 0 && s.window <= now + 60 && now - s.window < kWindowSeconds && s.attempts >= 0 &&
           s.codes >= 1 && s.codes <= kMaxCodes && s.failures >= 0 && s.failures < AttemptsPerWindow() + 1;
}

bool CTerminalPairing::Save(const State& s) const {
    const QByteArray text = QStringLiteral("[pairing]\r\nWindow=%1\r\nCode=%2\r\nAttempts=%3\r\nCodes=%4\r\n"
                                           "Failures=%5\r\nNotBefore=%6\r\n")
                                .arg(s.window)
                                .arg(s.code)
                                .arg(s.attempts)
                                .arg(s.codes)
                                .arg(s.failures)
                                .arg(s.notBefore)
                                .toLatin1();
    QString error;
    return WritePrivateFile(m_folder + QStringLiteral("pairing.ini"), text, &error);
}

void CTerminalPairing::NewCode(State& s) {
    s.code = QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
    s.attempts = 0;
    ++s.codes;
    // When it cannot be stored, no attempt is taken (BeginAttempt stores
    // first): never a code that outlives its attempts.
    Save(s);
    if (m_show) m_show(QStringLiteral("pairing code: %1").arg(s.code));
}

void CTerminalPairing::Close(State& s, bool announce) {
    const bool wasOpen = s.window != 0;
    if (!wasOpen && s.code.isEmpty()) return;
    s.window = 0;
    s.code.clear();
    s.attempts = 0;
    s.codes = 0;
    s.failures = 0;
    Save(s);
    if (wasOpen && announce && m_show) m_show(QStringLiteral("pairing closed"));
}

void CTerminalPairing::OpenWindow() {
    std::lock_guard guard(m_lock);
    State s = Load();
    // A guesser's attempt just before still holds the next one back a
    // little, but the person who asked is not kept waiting for minutes.
    const qint64 now = Now();
    s.notBefore = std::min(s.notBefore, now + kFirstDelayMs);
    s.window = std::max<qint64>(now / 1000, 1);
    s.codes = 0;
    s.failures = 0;
    NewCode(s);
}

QString CTerminalPairing::CurrentCode() {
    std::lock_guard guard(m_lock);
    const State s = Load();
    return Open(s, Now()) ? s.code : QString();
}

bool CTerminalPairing::BeginAttempt(CTicket* ticket) {
    std::lock_guard guard(m_lock);
    const qint64 now = Now();
    State s = Load();
    if (!Open(s, now)) {
        Close(s);
        return false;
    }
    if (s.attempts >= kMaxAttempts || now < s.notBefore) return false;
    // Counted, and the next attempt pushed back, before the answer goes out:
    // a peer that hangs up halfway has spent its attempt, and attempts on
    // many connections at once wait their turn like attempts in a row.
    ++s.attempts;
    ++s.failures;
    const int doublings = std::min(s.failures - 1, 30);
    s.notBefore = now + (kFirstDelayMs << doublings);
    if (!Save(s)) return false;
    ticket->code = s.code;
    ticket->window = s.window;
    ticket->codeNumber = s.codes;
    return true;
}

bool CTerminalPairing::ClaimSuccess(const CTicket& ticket) {
    std::lock_guard guard(m_lock);
    State s = Load();
    if (!Open(s, Now()) || s.window != ticket.window || s.codes != ticket.codeNumber || s.code != ticket.code)
        return false;
    s.notBefore = 0;
    // Used up: the caller tells what it paired.
    Close(s, false);
    return true;
}

void CTerminalPairing::EndFailedAttempt(const CTicket& ticket) {
    std::lock_guard guard(m_lock);
    State s = Load();
    if (!Open(s, Now())) return Close(s);
    if (s.window != ticket.window || s.codes != ticket.codeNumber || s.attempts < kMaxAttempts) return;
    if (s.codes >= kMaxCodes)
        Close(s);
    else
        NewCode(s);
}

void CTerminalPairing::Show(const QString& line) {
    if (m_show) m_show(line);
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
