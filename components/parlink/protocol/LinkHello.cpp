#include "components/parlink/protocol/LinkHello.h"

#include <algorithm>

namespace Link {
namespace {

std::uint32_t Get32(const QByteArray& b, qsizetype at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

std::uint16_t Get16(const QByteArray& b, qsizetype at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      (static_cast<unsigned char>(b[at + 1]) << 8));
}

void Put32(QByteArray& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void Put16(QByteArray& b, std::uint16_t v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>(v >> 8));
}

// The capability list, left out when empty: a HELLO or answer without
// capabilities is byte for byte what it was before they existed.
void AppendCapabilities(QByteArray& p, const CapabilityFlags& c) {
    QByteArray ids;
    if (c.journalSequence) ids.append(static_cast<char>(Capability::JournalSequence));
    if (c.oneProgram) ids.append(static_cast<char>(Capability::OneProgram));
    if (c.recordBlocks) ids.append(static_cast<char>(Capability::RecordBlocks));
    // Rows are written in record blocks only.
    if (c.recordBlocks && c.waresRows) ids.append(static_cast<char>(Capability::WaresRows));
    if (c.storedUnits) ids.append(static_cast<char>(Capability::StoredUnits));
    if (ids.isEmpty()) return;
    p.append(static_cast<char>(ids.size()));
    p.append(ids);
}

struct CapabilityList : CapabilityFlags {
    bool unknown = false;  // an id this code does not know
};

// Reads "F | F ids" at `at`; an absent or cut list reads as what it holds.
CapabilityList ReadCapabilities(const QByteArray& payload, qsizetype at) {
    CapabilityList list;
    if (at >= payload.size()) return list;
    const int count = static_cast<unsigned char>(payload[at++]);
    for (int i = 0; i < count && at < payload.size(); ++i, ++at) {
        switch (static_cast<std::uint8_t>(payload[at])) {
        case static_cast<std::uint8_t>(Capability::JournalSequence): list.journalSequence = true; break;
        case static_cast<std::uint8_t>(Capability::OneProgram): list.oneProgram = true; break;
        case static_cast<std::uint8_t>(Capability::RecordBlocks): list.recordBlocks = true; break;
        case static_cast<std::uint8_t>(Capability::WaresRows): list.waresRows = true; break;
        case static_cast<std::uint8_t>(Capability::StoredUnits): list.storedUnits = true; break;
        default: list.unknown = true; break;
        }
    }
    return list;
}

}  // namespace

QByteArray HelloPayload(std::uint32_t nonce, const LinkCapabilities& own) {
    QByteArray p;
    Put32(p, nonce);
    const std::uint8_t version = own.maxVersion < 2 ? 1 : kProtocolVersion;
    p.append(static_cast<char>(version));
    if (version < 2) return p;
    p.append(static_cast<char>(own.compression ? 1 : 0));
    if (own.compression) p.append(static_cast<char>(Compression::Zstd));
    p.append(static_cast<char>(own.codePage ? 1 : 0));
    if (own.codePage) Put16(p, kCodePageWindows1251);
    CapabilityFlags listed = own;
    listed.storedUnits = own.storedUnits && own.compression;
    AppendCapabilities(p, listed);
    return p;
}

bool ParseHello(const QByteArray& payload, HelloOffer* offer) {
    *offer = HelloOffer();
    if (payload.size() < 4) return false;
    offer->nonce = Get32(payload, 0);
    if (offer->nonce == 0) return false;
    // A HELLO without its version byte is taken as version 1.
    if (payload.size() >= 5) offer->version = std::max<std::uint8_t>(1, static_cast<std::uint8_t>(payload[4]));
    if (offer->version < 2) return true;
    qsizetype at = 5;
    if (at >= payload.size()) return true;
    const int methods = static_cast<unsigned char>(payload[at++]);
    for (int i = 0; i < methods && at < payload.size(); ++i, ++at)
        if (static_cast<std::uint8_t>(payload[at]) == static_cast<std::uint8_t>(Compression::Zstd)) offer->zstd = true;
    if (at >= payload.size()) return true;
    const int pages = static_cast<unsigned char>(payload[at++]);
    const qsizetype listEnd = at + 2 * pages;
    for (int i = 0; i < pages && at + 1 < payload.size(); ++i, at += 2)
        if (Get16(payload, at) == kCodePageWindows1251) offer->windows1251 = true;
    if (listEnd >= payload.size()) return true;  // no capability list (or the code pages cut short)
    at = listEnd;
    static_cast<CapabilityFlags&>(*offer) = ReadCapabilities(payload, at);
    return true;
}

SessionFeatures ChooseFeatures(const HelloOffer& offer, const LinkCapabilities& own) {
    SessionFeatures f;
    f.version = std::min<std::uint8_t>(std::max<std::uint8_t>(1, offer.version),
                                       std::max<std::uint8_t>(1, std::min(own.maxVersion, kProtocolVersion)));
    if (f.version < 2) return f;
    if (offer.zstd && own.compression) f.compression = Compression::Zstd;
    if (offer.windows1251 && own.codePage) f.codePage = kCodePageWindows1251;
    f.journalSequence = offer.journalSequence && own.journalSequence;
    f.oneProgram = offer.oneProgram && own.oneProgram;
    f.recordBlocks = offer.recordBlocks && own.recordBlocks;
    // Rows are written in record blocks only.
    f.waresRows = f.recordBlocks && offer.waresRows && own.waresRows;
    // Stored units are units of the compressed stream.
    f.storedUnits = f.compression == Compression::Zstd && offer.storedUnits && own.storedUnits;
    return f;
}

QByteArray HelloAnswerPayload(std::uint32_t nonce, const SessionFeatures& chosen) {
    QByteArray p;
    Put32(p, nonce);
    p.append(static_cast<char>(chosen.version));
    if (chosen.version < 2) return p;
    p.append(static_cast<char>(chosen.compression));
    Put16(p, chosen.codePage);
    AppendCapabilities(p, chosen);
    return p;
}

QByteArray BusyAnswerPayload(std::uint32_t nonce) {
    QByteArray p;
    Put32(p, nonce);
    p.append(static_cast<char>(kBusyVersion));
    p.append(static_cast<char>(kBusyReasonSessionOpen));
    return p;
}

HelloAnswerKind ReadHelloAnswer(const QByteArray& payload, const LinkCapabilities& own, std::uint32_t* nonce,
                                SessionFeatures* chosen) {
    if (payload.size() >= 6 && static_cast<std::uint8_t>(payload[4]) == kBusyVersion && own.oneProgram &&
        own.maxVersion >= 2) {
        *chosen = SessionFeatures();
        *nonce = Get32(payload, 0);
        return HelloAnswerKind::Busy;
    }
    return ParseHelloAnswer(payload, own, nonce, chosen) ? HelloAnswerKind::Accepted : HelloAnswerKind::Untrusted;
}

bool ParseHelloAnswer(const QByteArray& payload, const LinkCapabilities& own, std::uint32_t* nonce,
                      SessionFeatures* chosen) {
    *chosen = SessionFeatures();
    if (payload.size() < 4) return false;
    *nonce = Get32(payload, 0);
    const std::uint8_t ownVersion = own.maxVersion < 2 ? 1 : kProtocolVersion;
    const std::uint8_t version = payload.size() >= 5 ? static_cast<std::uint8_t>(payload[4]) : 1;
    if (version == 0 || version > ownVersion) return false;
    chosen->version = version;
    if (version < 2) return true;
    if (payload.size() < 8) return false;
    const auto method = static_cast<std::uint8_t>(payload[5]);
    const std::uint16_t page = Get16(payload, 6);
    if (method == static_cast<std::uint8_t>(Compression::Zstd) && own.compression)
        chosen->compression = Compression::Zstd;
    else if (method != static_cast<std::uint8_t>(Compression::None))
        return false;
    if (page == kCodePageWindows1251 && own.codePage)
        chosen->codePage = kCodePageWindows1251;
    else if (page != kNoCodePage)
        return false;
    const CapabilityList capabilities = ReadCapabilities(payload, 8);
    if (capabilities.unknown || (capabilities.journalSequence && !own.journalSequence) ||
        (capabilities.oneProgram && !own.oneProgram) || (capabilities.recordBlocks && !own.recordBlocks) ||
        (capabilities.waresRows && !(own.recordBlocks && own.waresRows)) ||
        (capabilities.storedUnits && !(own.compression && own.storedUnits)))
        return false;
    static_cast<CapabilityFlags&>(*chosen) = capabilities;
    chosen->waresRows = capabilities.recordBlocks && capabilities.waresRows;
    chosen->storedUnits = capabilities.storedUnits && chosen->compression == Compression::Zstd;
    return true;
}

}  // namespace Link
