#pragma once
// The terminal's pairing state in its state folder:
//
//   tls-identity.pem   its key and self-signed certificate (made on first use, 0600)
//   pins.txt           the programs it is paired with (LinkPins.h)
//   pairing.ini        [pairing] Code (6 digits), Created (UTC seconds), Attempts
//
// The current one-time code is shown (printed) whenever a new one is made.
// A code is good for kCodeLifetimeSeconds and kMaxAttempts pairing attempts;
// a successful pairing uses it up. Read afresh for every connection, so a
// test (or a person) may change the files between them.

#include "components/parlink/LinkPins.h"

#include <QString>

#include <functional>
#include <mutex>

class CTerminalPairing {
public:
    static constexpr qint64 kCodeLifetimeSeconds = 600;
    static constexpr int kMaxAttempts = 3;

    // `show` receives every new code (the emulator prints it).
    CTerminalPairing(const QString& stateFolder, std::function<void(const QString&)> show);

    QString IdentityFile() const;
    QString PinsFile() const;

    // The current code, making (and showing) a new one when there is none
    // or it is no longer good (then `renewed` is set).
    QString CurrentCode(bool* renewed = nullptr);
    // Counts an attempt against the current code and returns it; false (and
    // a new code is made and shown) when the code is no longer good.
    bool BeginAttempt(QString* code);
    // The attempt's end: success uses the code up; a failure that was the
    // last attempt allowed replaces it.
    void EndAttempt(bool paired);
    bool IsPinned(const QByteArray& fingerprint) const;

private:
    struct State {
        QString code;
        qint64 created = 0;
        int attempts = 0;
    };
    State Load() const;
    bool Good(const State& s) const;
    State Renew();
    bool Save(const State& s) const;

    QString m_folder;
    std::function<void(const QString&)> m_show;
    std::mutex m_lock;
};
