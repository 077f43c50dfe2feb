#pragma once
// What the two ends of a session agree on in the HELLO exchange.
//
// The program's HELLO states the highest protocol version it speaks and, from
// version 2 on, what it offers: compression methods and single-byte code
// pages for texts. The terminal answers with its choice: the lower of the two
// versions and, for version 2, one method (or none) and one code page (or
// none). A version-1 peer reads only the nonce and the version and answers
// with version 1; the session then runs exactly as version 1 does.
//
//   HELLO          nonce (4) | version (1) | [M (1) | M method ids (1 each) | K (1) | K code pages (2 each)
//                  | [F (1) | F capability ids (1 each)]]
//   hello answer   nonce (4) | version (1) | [method id (1) | code page (2) | [F (1) | F capability ids]]
//   busy answer    nonce (4) | 00 | reason (1): 01 another program's session is open
//
// The bracketed parts are present from version 2 on; numbers little-endian;
// bytes after the known fields are ignored (room for later versions). The
// capability list is how a feature beyond compression and code pages is
// agreed: the program lists what it can do, the terminal answers with the
// ones it will use, each of them one the program listed. A side that lists
// nothing (or a terminal that stops reading after the code pages) gets a
// session exactly as before capabilities existed.

#include <QByteArray>

#include <cstdint>

namespace Link {

// The highest version this code speaks.
inline constexpr std::uint8_t kProtocolVersion = 2;

enum class Compression : std::uint8_t {
    None = 0,
    Zstd = 1,  // one zstd stream a direction for the whole session, in sealed units
};

// Features agreed in the capability list of the HELLO exchange.
enum class Capability : std::uint8_t {
    // Every scan carries a number the terminal never reuses; a download names
    // the numbers it carries and a clear the number it clears through, and
    // filters a download sets last only for its session (docs/link-protocol.md,
    // "Journal sequence").
    JournalSequence = 1,
    // One program at a time: the program keeps its session alive while idle,
    // and the terminal answers another program's HELLO with "busy" meanwhile.
    OneProgram = 2,
    // Records of a directory load and lines of a journal or info download
    // travel as record blocks, column by column (RecordBlock.h,
    // docs/link-protocol.md, "Record blocks").
    RecordBlocks = 3,
    // Record blocks may write a field as a row of the wares directory the
    // terminal holds and the program kept a copy of ("15H"; WaresCopies.h).
    WaresRows = 4,
    // With compression, a unit may be stored: its plain bytes as they are,
    // outside the zstd stream (docs/link-protocol.md, "Stored units"). A
    // sender stores while the line keeps up with it and compresses when the
    // line holds it back.
    StoredUnits = 5,
};

// The answer to a HELLO that the terminal cannot serve now.
inline constexpr std::uint8_t kBusyVersion = 0;
inline constexpr std::uint8_t kBusyReasonSessionOpen = 1;

// Windows code page numbers; 0: texts only in UTF-8.
inline constexpr std::uint16_t kNoCodePage = 0;
inline constexpr std::uint16_t kCodePageWindows1251 = 1251;

// The capabilities agreed in a HELLO's list ("Capabilities" in the protocol).
struct CapabilityFlags {
    bool journalSequence = false;
    bool oneProgram = false;
    bool recordBlocks = false;
    bool waresRows = false;  // only with recordBlocks
    bool storedUnits = false;  // only with compression
};

// What an end is able and willing to use: by default everything it knows,
// but stored units, which an end offers where it has a fast line (a socket).
struct LinkCapabilities : CapabilityFlags {
    LinkCapabilities() : CapabilityFlags{true, true, true, true, false} {}
    std::uint8_t maxVersion = kProtocolVersion;
    bool compression = true;
    bool codePage = true;
};

// What a session uses; version 1 implies neither compression nor a code page.
struct SessionFeatures : CapabilityFlags {
    std::uint8_t version = 1;
    Compression compression = Compression::None;
    std::uint16_t codePage = kNoCodePage;
};

// What a HELLO offers.
struct HelloOffer : CapabilityFlags {
    std::uint32_t nonce = 0;
    std::uint8_t version = 1;
    bool zstd = false;
    bool windows1251 = false;
};

enum class HelloAnswerKind {
    Accepted,   // a session with the features read
    Busy,       // the terminal serves another program now
    Untrusted,  // cut short, or chooses what was not offered: not acted on
};

QByteArray HelloPayload(std::uint32_t nonce, const LinkCapabilities& own);
// False when the payload is too short or carries no nonce; unknown methods
// and code pages in the offer are passed over.
bool ParseHello(const QByteArray& payload, HelloOffer* offer);
// The responder's choice for an offer.
SessionFeatures ChooseFeatures(const HelloOffer& offer, const LinkCapabilities& own);

QByteArray HelloAnswerPayload(std::uint32_t nonce, const SessionFeatures& chosen);
// False when the payload is too short or chooses what `own` did not offer (a
// version above ours, an unknown method or code page): such an answer is not
// to be trusted.
bool ParseHelloAnswer(const QByteArray& payload, const LinkCapabilities& own, std::uint32_t* nonce,
                      SessionFeatures* chosen);
// The same, telling a busy answer apart; a busy answer counts only for a
// program that offered OneProgram (to any other it is untrusted, as before).
HelloAnswerKind ReadHelloAnswer(const QByteArray& payload, const LinkCapabilities& own, std::uint32_t* nonce,
                                SessionFeatures* chosen);
QByteArray BusyAnswerPayload(std::uint32_t nonce);

}  // namespace Link
