// The check of the link library before the system loader gets it
// (IsWholeLibraryImage, exchange/LibraryImage.h): a library cut short by a
// copy, a full disk or a download would otherwise kill the program with a bus
// error inside the loader, before any error could be reported.
//
// Input: the library file's bytes (seeds: small whole libraries).
//
// Whenever the check lets a file through to the loader, loading it must not
// touch a byte beyond the file: every loadable segment's bytes must lie in
// the pages the file fills (the kernel gives a bus error past them). A file
// the check refuses has a reason a person can read.

#include "exchange/LibraryImage.h"
#include "fuzz/FuzzSupport.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

namespace {

// The loader's view: where mapping the loadable segments of `bytes` would read
// past the last page of the file. Empty when it would not.
QString BeyondTheFile(const QByteArray& bytes) {
    ElfW(Ehdr) header;
    if (bytes.size() < static_cast<qsizetype>(sizeof header)) return QString();
    std::memcpy(&header, bytes.constData(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return QString();
    if (header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32)) return QString();
    if (header.e_ident[EI_DATA] != ELFDATA2LSB) return QString();
    const quint64 page = static_cast<quint64>(sysconf(_SC_PAGESIZE));
    const quint64 size = static_cast<quint64>(bytes.size());
    const quint64 mapped = (size + page - 1) / page * page;
    for (int i = 0; i < header.e_phnum; ++i) {
        const quint64 at = header.e_phoff + quint64(i) * sizeof(ElfW(Phdr));
        // Program headers are read, not mapped: the loader refuses a table it
        // cannot read.
        if (at < header.e_phoff || at + sizeof(ElfW(Phdr)) > size) return QString();
        ElfW(Phdr) segment;
        std::memcpy(&segment, bytes.constData() + at, sizeof segment);
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0) continue;
        const quint64 end = segment.p_offset + segment.p_filesz;
        if (end < segment.p_offset || end > mapped)
            return QStringLiteral("segment %1: bytes %2..%3 of a file of %4").arg(i).arg(segment.p_offset).arg(end).arg(size);
    }
    return QString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString path = ScratchPath(QStringLiteral("libparlink.so"));
    WriteScratchFile(path, bytes);
    QString why;
    if (IsWholeLibraryImage(path, &why)) {
        const QString beyond = BeyondTheFile(bytes);
        KX_FUZZ_CHECK(beyond.isEmpty(), QStringLiteral("passed to the loader, which would read past the file: %1").arg(beyond));
    } else {
        KX_FUZZ_CHECK(!why.isEmpty(), QStringLiteral("refused without a reason"));
    }
    return 0;
}
