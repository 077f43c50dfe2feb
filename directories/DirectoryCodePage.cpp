#include "directories/DirectoryCodePage.h"

#include <mutex>

namespace {

std::mutex g_lock;
CodePage::CCodec g_codec;

// Separators, digits, spaces and line ends must stay the single bytes they
// are in ASCII, or lines could not be split without decoding them first.
bool IsAsciiCompatible(const CodePage::CCodec& codec) {
    const QString probe = QStringLiteral(";, \r\n0123456789AZaz");
    return codec.Encode(probe) == probe.toLatin1() &&
           codec.Decode(probe.toLatin1()) == probe;
}

}  // namespace

bool SetDirectoryCodePage(const QString& name) {
    const QString trimmed = name.trimmed();
    CodePage::CCodec codec;
    bool taken = trimmed.isEmpty();
    if (!trimmed.isEmpty() && CodePage::IsKnown(trimmed)) {
        CodePage::CCodec candidate(trimmed);
        if (IsAsciiCompatible(candidate)) {
            codec = candidate;
            taken = true;
        }
    }
    std::lock_guard guard(g_lock);
    g_codec = codec;
    return taken;
}

CodePage::CCodec DirectoryCodec() {
    std::lock_guard guard(g_lock);
    return g_codec;
}
