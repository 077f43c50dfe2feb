#pragma once
// The terminal's pairing state in its state folder:
//
//   tls-identity.pem   its key and self-signed certificate (made on first use, 0600)
//   pins.txt           the programs it is paired with (LinkPins.h)
//   pairing.ini        [pairing] Window, Code, Attempts, Codes, Failures, NotBefore
//
// Pairing is open only while a person at the terminal has asked for it: a
// pairing window (OpenWindow) of kWindowSeconds. In it a one-time code takes
// kMaxAttempts attempts; a code used up by failures gives way to a new one,
// at most kMaxCodes in a window, then the window closes. Every attempt pushes
// the next one back, kFirstDelayMs after the first and twice as long after
// each further one, whichever connection and code it was on. The first
// success uses the code up and closes the window, so another attempt still
// running on the same code fails.
//
// Read afresh for every attempt, so a test (or a person) may change the files
// between them.

#include "components/parlink/security/LinkPins.h"

#include <QString>

#include <functional>
#include <mutex>

class CTerminalPairing {
public:
    static constexpr qint64 kWindowSeconds = 600;
    static constexpr int kMaxAttempts = 3;
    static constexpr int kMaxCodes = 3;
    static constexpr qint64 kFirstDelayMs = 2000;

    // The attempts anyone may make in one window at most.
    static constexpr int AttemptsPerWindow() { return kMaxAttempts * kMaxCodes; }

    // UTC milliseconds; the system clock unless a test gives its own.
    using Clock = std::function<qint64()>;

    // `show` receives every line for the person at the terminal: "pairing
    // code: NNNNNN" for each new code, "pairing closed" when a window ends,
    // "paired: NAME" for each program paired (the emulator prints them).
    CTerminalPairing(const QString& stateFolder, std::function<void(const QString&)> show, Clock clock = {});

    QString IdentityFile() const;
    QString PinsFile() const;

    // The person at the terminal asks for pairing: a new window with a new
    // code (shown).
    void OpenWindow();
    // The current code while a window is open, empty otherwise.
    QString CurrentCode();

    // One attempt: the code it runs with and which instance of it.
    struct CTicket {
        QString code;
        qint64 window = 0;
        int codeNumber = 0;
    };
    // Counts an attempt and returns its code; false when no attempt is taken
    // now (no window, the window over, or too soon after the last attempt).
    bool BeginAttempt(CTicket* ticket);
    // The attempt proved the code. True only for the first such attempt on
    // this code while its window is still open: the code is used up and the
    // window closed at once, under the same lock, so no second one succeeds.
    bool ClaimSuccess(const CTicket& ticket);
    // The attempt failed (a wrong code, a peer that hung up): a code that has
    // had its attempts gives way to a new one, or the window closes.
    void EndFailedAttempt(const CTicket& ticket);

    bool IsPinned(const QByteArray& fingerprint) const;
    // A line for the person at the terminal ("paired: NAME").
    void Show(const QString& line);

private:
    struct State {
        qint64 window = 0;  // UTC seconds the window opened; 0: closed
        QString code;
        int attempts = 0;   // on this code
        int codes = 0;      // shown in this window, this one included
        int failures = 0;   // attempts begun in this window
        qint64 notBefore = 0;  // UTC milliseconds
    };
    State Load() const;
    bool Open(const State& s, qint64 nowMs) const;
    bool Save(const State& s) const;
    void NewCode(State& s);
    void Close(State& s, bool announce = true);
    qint64 Now() const;

    QString m_folder;
    std::function<void(const QString&)> m_show;
    Clock m_clock;
    std::mutex m_lock;
};
