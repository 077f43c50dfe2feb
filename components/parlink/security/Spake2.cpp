#include "components/parlink/security/Spake2.h"

#include "components/parlink/security/OpenSslHandle.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <openssl/sha.h>

namespace {

// The fixed points M and N of RFC 9382 for P-256 (compressed).
const char kPointM[] = "02886e2f97ace46e55ba9dd7242579f2993b64e16ef3dcab95afd497333d8fa12f";
const char kPointN[] = "03d8bbd6c639c62937b04d997f38c3770719c629d7014d49a24b4f98baa1292b49";

using Group = OpenSslHandle<EC_GROUP, EC_GROUP_free>;
using Point = OpenSslHandle<EC_POINT, EC_POINT_free>;
using Bn = OpenSslHandle<BIGNUM, BN_clear_free>;
using BnCtx = OpenSslHandle<BN_CTX, BN_CTX_free>;
using Kdf = OpenSslHandle<EVP_KDF, EVP_KDF_free>;
using KdfCtx = OpenSslHandle<EVP_KDF_CTX, EVP_KDF_CTX_free>;

// The only point form taken from a peer: 0x04 X Y. The compressed and
// hybrid forms (0x02/0x03, 0x06/0x07) would parse too, but nobody sends them.
constexpr char kUncompressed = 0x04;

QByteArray Sha256(const QByteArray& data) {
    QByteArray out(SHA256_DIGEST_LENGTH, '\0');
    SHA256(reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()),
           reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

// HMAC-SHA-256; empty when the library failed (a confirmation of zeros
// would be one anybody could send).
QByteArray Hmac(const QByteArray& key, const QByteArray& data) {
    QByteArray out(CSpake2::kConfirmationSize, '\0');
    unsigned int size = 0;
    if (!HMAC(EVP_sha256(), key.constData(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()),
              reinterpret_cast<unsigned char*>(out.data()), &size) ||
        size != static_cast<unsigned int>(out.size()))
        return QByteArray();
    return out;
}

// The transcript's length prefix: 8 bytes little-endian.
void AppendWithLength(QByteArray& to, const QByteArray& part) {
    quint64 n = static_cast<quint64>(part.size());
    for (int i = 0; i < 8; ++i, n >>= 8) to.append(static_cast<char>(n & 0xff));
    to.append(part);
}

}  // namespace

struct CSpake2::State {
    Role role;
    QByteArray identityA, identityB;
    Group group{EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)};
    BnCtx ctx{BN_CTX_new()};
    Bn w{BN_new()};
    Bn secret{BN_new()};
    Point own, pointM, pointN;
    QByteArray message, peerMessage;
    QByteArray confirmOwn, confirmPeer;
    QByteArray transcript;
    bool ok = false;

    Point Decode(const char* hex) const {
        Point p(EC_POINT_new(group.get()));
        if (!p || !EC_POINT_hex2point(group.get(), hex, p.get(), ctx.get())) return nullptr;
        return p;
    }
    QByteArray Encode(const EC_POINT* p) const {
        QByteArray out(kMessageSize, '\0');
        const size_t n = EC_POINT_point2oct(group.get(), p, POINT_CONVERSION_UNCOMPRESSED,
                                            reinterpret_cast<unsigned char*>(out.data()), kMessageSize, ctx.get());
        return n == kMessageSize ? out : QByteArray();
    }
};

CSpake2::CSpake2() : m_state(std::make_unique<State>()) {}

CSpake2::CSpake2(Role role, const QByteArray& code, const QByteArray& identityA, const QByteArray& identityB)
    : CSpake2() {
    Start(role, identityA, identityB, nullptr, nullptr, code);
}

std::unique_ptr<CSpake2> CSpake2::WithScalars(Role role, const QByteArray& w, const QByteArray& secret,
                                              const QByteArray& identityA, const QByteArray& identityB) {
    std::unique_ptr<CSpake2> side(new CSpake2);
    side->Start(role, identityA, identityB, &w, &secret, QByteArray());
    return side;
}

void CSpake2::Start(Role role, const QByteArray& identityA, const QByteArray& identityB, const QByteArray* w,
                    const QByteArray* secret, const QByteArray& code) {
    State& s = *m_state;
    s.role = role;
    s.identityA = identityA;
    s.identityB = identityB;
    if (!s.group || !s.ctx || !s.w || !s.secret) return;
    s.pointM = s.Decode(kPointM);
    s.pointN = s.Decode(kPointN);
    if (!s.pointM || !s.pointN) return;
    const BIGNUM* order = EC_GROUP_get0_order(s.group.get());
    const auto toBn = [](const QByteArray& bytes, BIGNUM* to) {
        return BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<int>(bytes.size()), to) != nullptr;
    };
    if (w) {
        if (!toBn(*w, s.w.get())) return;
    } else {
        // w: the code hashed and reduced modulo the group order. A slow hash
        // would only matter against offline guessing, which SPAKE2 prevents.
        const QByteArray h = Sha256(QByteArrayLiteral("KXConfig link pairing v1\0") + code);
        Bn wide(BN_bin2bn(reinterpret_cast<const unsigned char*>(h.constData()), static_cast<int>(h.size()), nullptr));
        if (!wide || !BN_nnmod(s.w.get(), wide.get(), order, s.ctx.get())) return;
    }
    if (secret) {
        if (!toBn(*secret, s.secret.get())) return;
    } else {
        // x (or y) uniformly in [1, order).
        do {
            if (!BN_priv_rand_range(s.secret.get(), order)) return;
        } while (BN_is_zero(s.secret.get()));
    }
    // pA = x*G + w*M, pB = y*G + w*N.
    s.own.reset(EC_POINT_new(s.group.get()));
    const EC_POINT* blind = role == Role::A ? s.pointM.get() : s.pointN.get();
    if (!s.own || !EC_POINT_mul(s.group.get(), s.own.get(), s.secret.get(), blind, s.w.get(), s.ctx.get())) return;
    s.message = s.Encode(s.own.get());
    s.ok = !s.message.isEmpty();
}

CSpake2::~CSpake2() = default;

QByteArray CSpake2::Message() const { return m_state->ok ? m_state->message : QByteArray(); }

bool CSpake2::Finish(const QByteArray& peerMessage) {
    State& s = *m_state;
    if (!s.ok || peerMessage.size() != kMessageSize || peerMessage[0] != kUncompressed) return false;
    s.ok = false;
    Point peer(EC_POINT_new(s.group.get()));
    // oct2point checks that the point lies on the curve.
    if (!peer || !EC_POINT_oct2point(s.group.get(), peer.get(),
                                     reinterpret_cast<const unsigned char*>(peerMessage.constData()),
                                     static_cast<size_t>(peerMessage.size()), s.ctx.get()) ||
        EC_POINT_is_at_infinity(s.group.get(), peer.get()))
        return false;
    // K = x * (pB - w*N) for A, y * (pA - w*M) for B.
    const EC_POINT* peerBlind = s.role == Role::A ? s.pointN.get() : s.pointM.get();
    Point unblind(EC_POINT_new(s.group.get()));
    Point shared(EC_POINT_new(s.group.get()));
    if (!unblind || !shared || !EC_POINT_mul(s.group.get(), unblind.get(), nullptr, peerBlind, s.w.get(), s.ctx.get()) ||
        !EC_POINT_invert(s.group.get(), unblind.get(), s.ctx.get()) ||
        !EC_POINT_add(s.group.get(), unblind.get(), peer.get(), unblind.get(), s.ctx.get()) ||
        !EC_POINT_mul(s.group.get(), shared.get(), nullptr, unblind.get(), s.secret.get(), s.ctx.get()) ||
        EC_POINT_is_at_infinity(s.group.get(), shared.get()))
        return false;
    const QByteArray k = s.Encode(shared.get());
    if (k.isEmpty()) return false;
    QByteArray wBytes(32, '\0');
    if (BN_bn2binpad(s.w.get(), reinterpret_cast<unsigned char*>(wBytes.data()), 32) != 32) return false;
    const QByteArray& pA = s.role == Role::A ? s.message : peerMessage;
    const QByteArray& pB = s.role == Role::A ? peerMessage : s.message;
    QByteArray tt;
    AppendWithLength(tt, s.identityA);
    AppendWithLength(tt, s.identityB);
    AppendWithLength(tt, pA);
    AppendWithLength(tt, pB);
    AppendWithLength(tt, k);
    AppendWithLength(tt, wBytes);
    const QByteArray hashed = Sha256(tt);
    const QByteArray ka = hashed.mid(16, 16);
    // KcA || KcB = HKDF-SHA-256(salt: none, Ka, info "ConfirmationKeys").
    const QByteArray okm = Hkdf(ka, QByteArray(), QByteArrayLiteral("ConfirmationKeys"), 32);
    if (okm.size() != 32) return false;
    const QByteArray kcA = okm.left(16), kcB = okm.mid(16, 16);
    const QByteArray confirmA = Hmac(kcA, tt), confirmB = Hmac(kcB, tt);
    if (confirmA.isEmpty() || confirmB.isEmpty()) return false;
    s.confirmOwn = s.role == Role::A ? confirmA : confirmB;
    s.confirmPeer = s.role == Role::A ? confirmB : confirmA;
    s.transcript = tt;
    s.ok = true;
    return true;
}

QByteArray CSpake2::Confirmation() const { return m_state->ok ? m_state->confirmOwn : QByteArray(); }

bool CSpake2::Verify(const QByteArray& peerConfirmation) const {
    const State& s = *m_state;
    return s.ok && peerConfirmation.size() == s.confirmPeer.size() &&
           CRYPTO_memcmp(peerConfirmation.constData(), s.confirmPeer.constData(),
                         static_cast<size_t>(s.confirmPeer.size())) == 0;
}

QByteArray CSpake2::Transcript() const { return m_state->ok ? m_state->transcript : QByteArray(); }

QByteArray CSpake2::Hkdf(const QByteArray& key, const QByteArray& salt, const QByteArray& info, int size) {
    Kdf kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    if (!kdf || size <= 0) return QByteArray();
    KdfCtx ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) return QByteArray();
    // OpenSSL's parameters take non-const pointers; it only reads them.
    QByteArray k = key, sl = salt, in = info;
    char digest[] = "SHA256";
    OSSL_PARAM params[5];
    int n = 0;
    params[n++] = OSSL_PARAM_construct_utf8_string("digest", digest, 0);
    params[n++] = OSSL_PARAM_construct_octet_string("key", k.data(), static_cast<size_t>(k.size()));
    // No salt means a salt of zeros (RFC 5869, 2.2); OpenSSL does that when
    // none is given.
    if (!sl.isEmpty()) params[n++] = OSSL_PARAM_construct_octet_string("salt", sl.data(), static_cast<size_t>(sl.size()));
    params[n++] = OSSL_PARAM_construct_octet_string("info", in.data(), static_cast<size_t>(in.size()));
    params[n] = OSSL_PARAM_construct_end();
    QByteArray out(size, '\0');
    if (EVP_KDF_derive(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), static_cast<size_t>(size), params) != 1)
        return QByteArray();
    return out;
}
