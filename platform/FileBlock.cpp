#include "platform/FileBlock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

qsizetype PageSize() {
    static const qsizetype page = [] {
        const long size = sysconf(_SC_PAGESIZE);
        return size > 0 ? qsizetype(size) : qsizetype(4096);
    }();
    return page;
}

qsizetype RoundUp(qsizetype bytes, qsizetype page) { return (bytes + page - 1) / page * page; }

// A small system file's text (plain calls: a setting read once needs none of
// the file classes' machinery).
std::string ReadSystemFile(const char* path) {
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } file{::open(path, O_RDONLY | O_CLOEXEC)};
    std::string text;
    if (file.fd < 0) return text;
    char buffer[256];
    const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got > 0) text.assign(buffer, size_t(got));
    return text;
}

// The size of the transparent huge pages the system hands out on request
// ("always" or "madvise" chosen), 0 when it gives none.
qsizetype ReadLargePageBytes() {
    const std::string mode = ReadSystemFile("/sys/kernel/mm/transparent_hugepage/enabled");
    if (mode.find("[always]") == std::string::npos && mode.find("[madvise]") == std::string::npos)
        return 0;
    const std::string size = ReadSystemFile("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size");
    char* end = nullptr;
    const long long bytes = std::strtoll(size.c_str(), &end, 10);
    // Beyond a few MB (64 KB pages make them 512 MB) a file would rarely fill one.
    const qsizetype page = PageSize();
    if (end == size.c_str() || bytes <= page || bytes > (qsizetype(32) << 20) || bytes % page != 0)
        return 0;
    return qsizetype(bytes);
}

}  // namespace

qsizetype LargePageBytes() {
    static const qsizetype bytes = ReadLargePageBytes();
    return bytes;
}

CFileBlock::CFileBlock(qsizetype capacity) {
    if (capacity <= 0) return;
    const qsizetype page = PageSize();
    const qsizetype mapped = RoundUp(capacity, page);
    const qsizetype large = LargePageBytes();
    if (large == 0 || capacity < large) {
        void* p = ::mmap(nullptr, size_t(mapped), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        m_data = static_cast<char*>(p);
        m_capacity = capacity;
        m_mapped = mapped;
        return;
    }
    // Large pages lie on large-page boundaries: map a large page more than
    // needed, start at the first boundary and give back what lies outside.
    const qsizetype reserved = mapped + large - page;
    void* p = ::mmap(nullptr, size_t(reserved), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    char* const base = static_cast<char*>(p);
    char* const start = reinterpret_cast<char*>(RoundUp(qsizetype(reinterpret_cast<quintptr>(base)), large));
    if (start > base) ::munmap(base, size_t(start - base));
    char* const end = base + reserved;
    if (end > start + mapped) ::munmap(start + mapped, size_t(end - (start + mapped)));
    // Only advice: without it (or without free large pages) the block has small pages.
    ::madvise(start, size_t(capacity / large * large), MADV_HUGEPAGE);
    m_data = start;
    m_capacity = capacity;
    m_mapped = mapped;
}

CFileBlock::~CFileBlock() { Release(); }

CFileBlock::CFileBlock(CFileBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)) {}

CFileBlock& CFileBlock::operator=(CFileBlock&& other) noexcept {
    if (this != &other) {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

void CFileBlock::Shrink(qsizetype used) {
    if (!m_data || used < 0 || used >= m_capacity) return;
    const qsizetype keep = RoundUp(used > 0 ? used : 1, PageSize());
    if (keep < m_mapped) {
        ::munmap(m_data + keep, size_t(m_mapped - keep));
        m_mapped = keep;
    }
    m_capacity = used;
}

void CFileBlock::Release() {
    if (m_data) ::munmap(m_data, size_t(m_mapped));
    m_data = nullptr;
    m_capacity = m_mapped = 0;
}

void PreparePagesForWrite(char* from, qsizetype bytes, qsizetype blockCapacity) {
    const qsizetype large = LargePageBytes();
    if (large > 0 && blockCapacity >= large) return;
#ifdef MADV_POPULATE_WRITE
    const auto page = quintptr(PageSize());
    const quintptr start = (reinterpret_cast<quintptr>(from) + page - 1) / page * page;
    const quintptr end = (reinterpret_cast<quintptr>(from) + quintptr(bytes)) / page * page;
    if (end > start) ::madvise(reinterpret_cast<void*>(start), size_t(end - start), MADV_POPULATE_WRITE);
#else
    Q_UNUSED(from);
    Q_UNUSED(bytes);
    Q_UNUSED(blockCapacity);
#endif
}

bool ReadFileIntoBlock(const QString& path, qint64 limit, CFileBlock* block, qsizetype* size) {
    *block = CFileBlock();
    *size = 0;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const qint64 bytes = f.size();
    if (bytes < 0 || bytes > limit) return false;
    if (bytes == 0) return true;
    CFileBlock read(bytes);
    if (!read.Data()) return false;
    qint64 got = 0;
    while (got < bytes) {
        const qint64 n = f.read(read.Data() + got, bytes - got);
        if (n <= 0) break;
        got += n;
    }
    if (got < bytes && f.error() != QFileDevice::NoError) return false;
    *block = std::move(read);
    *size = got;
    return true;
}

size_t CountLineFeeds(const char* bytes, qsizetype size) {
    size_t count = 0;
    for (const char *p = bytes, *end = bytes + size;
         p != end && (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))); ++p)
        ++count;
    return count;
}
