#pragma once
// SPAKE2 on P-256 (RFC 9382) with key confirmation: two sides that share a
// short code end up with a shared key and proof that the other side knew the
// code, while someone who sees or takes part in the exchange learns nothing
// to test guesses of the code against offline: each run tests one guess.
//
// Side A (the program) and side B (the terminal) each name both sides by
// their certificates' fingerprints as seen in their own TLS session. A relay
// that terminates TLS on both sides makes the two sides see different
// fingerprints, so their transcripts differ and the confirmations fail.

#include <QByteArray>

#include <memory>

class CSpake2 {
public:
    enum class Role { A, B };
    static constexpr int kMessageSize = 65;       // an uncompressed P-256 point
    static constexpr int kConfirmationSize = 32;  // HMAC-SHA-256

    CSpake2(Role role, const QByteArray& code, const QByteArray& identityA, const QByteArray& identityB);
    // For known-answer tests (RFC 9382's vectors): w and this side's secret
    // scalar given as 32 bytes big-endian instead of derived from a code and
    // drawn at random. Nothing else differs from a real run.
    static std::unique_ptr<CSpake2> WithScalars(Role role, const QByteArray& w, const QByteArray& secret,
                                                const QByteArray& identityA, const QByteArray& identityB);
    ~CSpake2();
    CSpake2(const CSpake2&) = delete;
    CSpake2& operator=(const CSpake2&) = delete;

    // This side's share (pA or pB); empty when the library failed.
    QByteArray Message() const;
    // Takes the other side's share; false when it is not a point of the
    // curve (or the identity), which ends the run.
    bool Finish(const QByteArray& peerMessage);
    // This side's confirmation, and the check of the other side's (in
    // constant time). Only after a successful Finish.
    QByteArray Confirmation() const;
    bool Verify(const QByteArray& peerConfirmation) const;
    // The transcript TT both confirmations are made over (after Finish).
    QByteArray Transcript() const;

    // HKDF-SHA-256 (RFC 5869) with OpenSSL's KDF; empty on failure.
    static QByteArray Hkdf(const QByteArray& key, const QByteArray& salt, const QByteArray& info, int size);

private:
    CSpake2();
    void Start(Role role, const QByteArray& identityA, const QByteArray& identityB, const QByteArray* w,
               const QByteArray* secret, const QByteArray& code);

    struct State;
    std::unique_ptr<State> m_state;
};
