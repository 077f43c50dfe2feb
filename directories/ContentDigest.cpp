#include "directories/ContentDigest.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

namespace {

constexpr quint64 kPrime1 = 0x9E3779B185EBCA87ull;
constexpr quint64 kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr quint64 kPrime3 = 0x165667B19E3779F9ull;
constexpr quint64 kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr quint64 kPrime5 = 0x27D4EB2F165667C5ull;

inline quint64 Rotl(quint64 v, int bits) { return (v << bits) | (v >> (64 - bits)); }

// Little-endian, whatever the machine's byte order and the pointer's alignment.
inline quint64 Read64(const unsigned char* p) {
    quint64 v;
    std::memcpy(&v, p, sizeof v);
    return qFromLittleEndian(v);
}

inline quint32 Read32(const unsigned char* p) {
    quint32 v;
    std::memcpy(&v, p, sizeof v);
    return qFromLittleEndian(v);
}

inline quint64 Round(quint64 lane, quint64 input) {
    lane += input * kPrime2;
    return Rotl(lane, 31) * kPrime1;
}

inline quint64 MergeLane(quint64 hash, quint64 lane) {
    hash ^= Round(0, lane);
    return hash * kPrime1 + kPrime4;
}

}  // namespace

CContentDigest::CContentDigest(quint64 seed)
    : m_seed(seed), m_lane{seed + kPrime1 + kPrime2, seed + kPrime2, seed, seed - kPrime1} {}

inline void CContentDigest::Stripe(const unsigned char* p) {
    m_lane[0] = Round(m_lane[0], Read64(p));
    m_lane[1] = Round(m_lane[1], Read64(p + 8));
    m_lane[2] = Round(m_lane[2], Read64(p + 16));
    m_lane[3] = Round(m_lane[3], Read64(p + 24));
}

void CContentDigest::Feed(const char* data, qsizetype size) {
    if (size <= 0) return;
    auto p = reinterpret_cast<const unsigned char*>(data);
    const auto* const end = p + size;
    m_total += size;
    if (m_tailSize > 0) {  // a stripe begun in the previous piece
        const int take = int(qMin<qsizetype>(kStripe - m_tailSize, end - p));
        std::memcpy(m_tail + m_tailSize, p, size_t(take));
        m_tailSize += take;
        p += take;
        if (m_tailSize < kStripe) return;
        Stripe(m_tail);
        m_tailSize = 0;
    }
    // The lanes in locals: the bytes are read through a char pointer, which
    // could alias the members and make the compiler reload them every stripe.
    quint64 v0 = m_lane[0], v1 = m_lane[1], v2 = m_lane[2], v3 = m_lane[3];
    for (; end - p >= kStripe; p += kStripe) {
        v0 = Round(v0, Read64(p));
        v1 = Round(v1, Read64(p + 8));
        v2 = Round(v2, Read64(p + 16));
        v3 = Round(v3, Read64(p + 24));
    }
    m_lane[0] = v0;
    m_lane[1] = v1;
    m_lane[2] = v2;
    m_lane[3] = v3;
    m_tailSize = int(end - p);
    if (m_tailSize > 0) std::memcpy(m_tail, p, size_t(m_tailSize));
}

quint64 CContentDigest::Result() const {
    quint64 hash;
    if (m_total >= kStripe) {
        hash = Rotl(m_lane[0], 1) + Rotl(m_lane[1], 7) + Rotl(m_lane[2], 12) + Rotl(m_lane[3], 18);
        for (const quint64 lane : m_lane) hash = MergeLane(hash, lane);
    } else {
        hash = m_seed + kPrime5;
    }
    hash += quint64(m_total);
    const unsigned char* p = m_tail;
    const unsigned char* const end = m_tail + m_tailSize;
    for (; end - p >= 8; p += 8) hash = Rotl(hash ^ Round(0, Read64(p)), 27) * kPrime1 + kPrime4;
    if (end - p >= 4) {
        hash = Rotl(hash ^ (quint64(Read32(p)) * kPrime1), 23) * kPrime2 + kPrime3;
        p += 4;
    }
    for (; p < end; ++p) hash = Rotl(hash ^ (*p * kPrime5), 11) * kPrime1;
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

FileContentState ReadFileContentState(const QString& path) {
    FileContentState state;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return state;
    CContentDigest digest;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0) return state;
        if (got == 0) break;
        digest.Feed(block.constData(), got);
    }
    state.exists = true;
    state.size = digest.Bytes();
    state.digest = digest.Result();
    return state;
}
