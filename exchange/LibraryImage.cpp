#include "exchange/LibraryImage.h"

#include <QFile>

#if defined(__linux__) && __has_include(<elf.h>)
#include <elf.h>
#include <link.h>  // ElfW: the ELF types of this machine's class
#define KX_CHECK_ELF 1
#endif

#include <cstring>

#ifdef KX_CHECK_ELF
namespace {

// [offset, offset + size) lies inside a file of `fileSize` bytes.
bool Inside(quint64 offset, quint64 size, quint64 fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

}  // namespace
#endif

bool IsWholeLibraryImage(const QString& path, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (why) *why = file.errorString();
        return false;
    }
#ifdef KX_CHECK_ELF
    const auto damaged = [why](const char* what) {
        if (why) *why = QStringLiteral("the library is damaged or incompletely copied (%1)").arg(QLatin1String(what));
        return false;
    };
    const quint64 fileSize = static_cast<quint64>(file.size());
    ElfW(Ehdr) header;
    const qint64 got = file.read(reinterpret_cast<char*>(&header), sizeof header);
    if (got < SELFMAG || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return true;  // not ELF: the loader's call
    if (got < EI_NIDENT) return damaged("ELF identification cut short");
#if __BYTE_ORDER == __LITTLE_ENDIAN
    constexpr unsigned char kNativeData = ELFDATA2LSB;
#else
    constexpr unsigned char kNativeData = ELFDATA2MSB;
#endif
    constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    // Another class or byte order is refused by the loader from the header alone.
    if (header.e_ident[EI_CLASS] != kNativeClass || header.e_ident[EI_DATA] != kNativeData) return true;
    if (got < static_cast<qint64>(sizeof header)) return damaged("ELF header cut short");

    if (header.e_phnum > 0) {
        if (header.e_phentsize != sizeof(ElfW(Phdr))) return damaged("unexpected program header size");
        const quint64 tableSize = quint64(header.e_phnum) * header.e_phentsize;
        if (!Inside(header.e_phoff, tableSize, fileSize)) return damaged("program headers beyond the end of the file");
        if (!file.seek(static_cast<qint64>(header.e_phoff))) return damaged("program headers unreadable");
        for (int i = 0; i < header.e_phnum; ++i) {
            ElfW(Phdr) segment;
            if (file.read(reinterpret_cast<char*>(&segment), sizeof segment) != sizeof segment)
                return damaged("program headers unreadable");
            if (segment.p_filesz > 0 && !Inside(segment.p_offset, segment.p_filesz, fileSize))
                return damaged("a segment reaches beyond the end of the file");
        }
    }
    // The section headers come last in a library, so a cut anywhere shows here
    // even when the loadable segments happen to be whole.
    if (header.e_shnum > 0 &&
        !Inside(header.e_shoff, quint64(header.e_shnum) * header.e_shentsize, fileSize))
        return damaged("section headers beyond the end of the file");
#endif
    return true;
}
