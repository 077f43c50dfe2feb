// The HELLO exchange: the terminal's reading of the program's offer and the
// program's reading of the terminal's answer.
//
// For any HELLO the terminal reads, its choice never exceeds the offer nor
// its own abilities, and the answer it writes for that choice is read back by
// a program that made the offer as exactly that choice. For any answer the
// program accepts, what it accepts is within what it offered (it never
// compresses or switches the code page on a terminal's say-so alone), and the
// version is never above its own. Bytes after the fields a side knows are
// ignored, on both sides.

#include "components/parlink/protocol/LinkHello.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using namespace Link;

LinkCapabilities AnyCapabilities(FuzzedDataProvider& fdp) {
    LinkCapabilities c;
    c.maxVersion = fdp.ConsumeIntegralInRange<std::uint8_t>(0, 4);
    c.compression = fdp.ConsumeBool();
    c.codePage = fdp.ConsumeBool();
    c.journalSequence = fdp.ConsumeBool();
    c.oneProgram = fdp.ConsumeBool();
    return c;
}

QString Describe(const SessionFeatures& f) {
    return QStringLiteral("version %1 compression %2 code page %3 sequence %4 one program %5")
        .arg(f.version)
        .arg(static_cast<int>(f.compression))
        .arg(f.codePage)
        .arg(f.journalSequence)
        .arg(f.oneProgram);
}

bool Same(const SessionFeatures& a, const SessionFeatures& b) {
    return a.version == b.version && a.compression == b.compression && a.codePage == b.codePage &&
           a.journalSequence == b.journalSequence && a.oneProgram == b.oneProgram;
}

bool SameOffer(const HelloOffer& a, const HelloOffer& b) {
    return a.nonce == b.nonce && a.version == b.version && a.zstd == b.zstd && a.windows1251 == b.windows1251 &&
           a.journalSequence == b.journalSequence && a.oneProgram == b.oneProgram;
}

// What the program offers with these abilities, as HelloPayload writes it.
HelloOffer Offered(std::uint32_t nonce, const LinkCapabilities& own) {
    HelloOffer o;
    o.nonce = nonce;
    o.version = own.maxVersion < 2 ? 1 : kProtocolVersion;
    o.zstd = o.version >= 2 && own.compression;
    o.windows1251 = o.version >= 2 && own.codePage;
    o.journalSequence = o.version >= 2 && own.journalSequence;
    o.oneProgram = o.version >= 2 && own.oneProgram;
    return o;
}

void CheckChoiceWithinOffer(const HelloOffer& offer, const LinkCapabilities& own, const SessionFeatures& f) {
    const std::uint8_t ownVersion = own.maxVersion < 2 ? 1 : kProtocolVersion;
    KX_FUZZ_CHECK(f.version >= 1 && f.version <= offer.version && f.version <= ownVersion, Describe(f));
    if (f.version < 2)
        KX_FUZZ_CHECK(f.compression == Compression::None && f.codePage == kNoCodePage, Describe(f));
    if (f.compression == Compression::Zstd) KX_FUZZ_CHECK(offer.zstd && own.compression, Describe(f));
    if (f.codePage != kNoCodePage)
        KX_FUZZ_CHECK(f.codePage == kCodePageWindows1251 && offer.windows1251 && own.codePage, Describe(f));
    // A capability is used only when both listed it.
    if (f.journalSequence) KX_FUZZ_CHECK(offer.journalSequence && own.journalSequence && f.version >= 2, Describe(f));
    if (f.oneProgram) KX_FUZZ_CHECK(offer.oneProgram && own.oneProgram && f.version >= 2, Describe(f));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const LinkCapabilities program = AnyCapabilities(fdp);
    const LinkCapabilities terminal = AnyCapabilities(fdp);
    const QByteArray junk = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(16));
    const QByteArray payload = QByteArray::fromStdString(fdp.ConsumeRemainingBytesAsString());

    // The terminal reads any HELLO.
    HelloOffer offer;
    if (ParseHello(payload, &offer)) {
        KX_FUZZ_CHECK(offer.nonce != 0 && offer.version >= 1, QStringLiteral("nonce 0 or version 0 accepted"));
        const SessionFeatures chosen = ChooseFeatures(offer, terminal);
        CheckChoiceWithinOffer(offer, terminal, chosen);
        const QByteArray answer = HelloAnswerPayload(offer.nonce, chosen);
        // A program that offered at least this reads the answer as the choice.
        LinkCapabilities offering;
        offering.maxVersion = offer.version;
        offering.compression = offer.zstd;
        offering.codePage = offer.windows1251;
        offering.journalSequence = offer.journalSequence;
        offering.oneProgram = offer.oneProgram;
        std::uint32_t nonce = 0;
        SessionFeatures read;
        KX_FUZZ_CHECK(ParseHelloAnswer(answer, offering, &nonce, &read) && nonce == offer.nonce && Same(read, chosen),
                      QStringLiteral("answer %1 to its offer not read back as %2")
                          .arg(HexPreview(answer), Describe(chosen)));
    }

    // The program's own HELLO, with anything after its last field, reads as
    // its offer. A version-2 HELLO offering no capability ends at the code
    // pages, and what follows there is read as the capability list: the
    // junk then follows an empty one.
    const std::uint32_t ourNonce = 0x1A2B3C4D;
    const auto withAllFields = [](QByteArray payload, std::uint8_t version, bool capabilities) {
        if (version >= 2 && !capabilities) payload.append('\0');
        return payload;
    };
    const HelloOffer offered = Offered(ourNonce, program);
    const QByteArray ours = withAllFields(HelloPayload(ourNonce, program), offered.version,
                                          offered.journalSequence || offered.oneProgram);
    HelloOffer parsed;
    KX_FUZZ_CHECK(ParseHello(ours + junk, &parsed) && SameOffer(parsed, Offered(ourNonce, program)),
                  QStringLiteral("HELLO %1 + %2 not read as its offer").arg(HexPreview(ours), HexPreview(junk)));

    // The program reads any answer; what it accepts is within its offer.
    std::uint32_t nonce = 0;
    SessionFeatures accepted;
    if (ParseHelloAnswer(payload, program, &nonce, &accepted)) {
        CheckChoiceWithinOffer(Offered(ourNonce, program), program, accepted);
        SessionFeatures again;
        std::uint32_t nonceAgain = 0;
        // Trailing bytes change nothing once the fields are there.
        const QByteArray whole = withAllFields(HelloAnswerPayload(nonce, accepted), accepted.version,
                                               accepted.journalSequence || accepted.oneProgram);
        KX_FUZZ_CHECK(ParseHelloAnswer(whole + junk, program, &nonceAgain, &again) &&
                          nonceAgain == nonce && Same(again, accepted),
                      Describe(accepted));
    }
    return 0;
}
