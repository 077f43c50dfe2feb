#include "directories/FileBlock.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace {

constexpr qsizetype kLargePage = qsizetype(2) << 20;
// Below this a block keeps small pages: a small directory gains nothing from
// large ones and would be rounded up to one.
constexpr qsizetype kLargePageBlock = 2 * kLargePage;

qsizetype SmallPage() {
    static const qsizetype page = [] {
        const long size = sysconf(_SC_PAGESIZE);
        return size > 0 ? qsizetype(size) : qsizetype(4096);
    }();
    return page;
}

qsizetype RoundUp(qsizetype bytes, qsizetype page) { return (bytes + page - 1) / page * page; }

}  // namespace

CFileBlock::CFileBlock(qsizetype capacity) {
    if (capacity <= 0) return;
    const bool large = capacity >= kLargePageBlock;
    const qsizetype page = large ? kLargePage : SmallPage();
    const qsizetype mapped = RoundUp(capacity, page);
    // Large pages need an aligned start: map one page more and cut to it.
    const qsizetype reserve = large ? mapped + kLargePage : mapped;
    void* p = ::mmap(nullptr, size_t(reserve), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    char* start = static_cast<char*>(p);
    if (large) {
        const auto address = reinterpret_cast<quintptr>(start);
        char* aligned = start + (kLargePage - qsizetype(address % quintptr(kLargePage))) % kLargePage;
        if (aligned > start) ::munmap(start, size_t(aligned - start));
        const qsizetype tail = (start + reserve) - (aligned + mapped);
        if (tail > 0) ::munmap(aligned + mapped, size_t(tail));
        start = aligned;
#ifdef MADV_HUGEPAGE
        ::madvise(start, size_t(mapped), MADV_HUGEPAGE);  // advice only: small pages work too
#endif
    }
    m_data = start;
    m_capacity = capacity;
    m_mapped = mapped;
    m_page = page;
}

CFileBlock::~CFileBlock() { Release(); }

CFileBlock::CFileBlock(CFileBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)),
      m_page(std::exchange(other.m_page, 0)) {}

CFileBlock& CFileBlock::operator=(CFileBlock&& other) noexcept {
    if (this != &other) {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
        m_page = std::exchange(other.m_page, 0);
    }
    return *this;
}

void CFileBlock::Shrink(qsizetype used) {
    if (!m_data || used < 0 || used >= m_capacity) return;
    // Whole pages only: cutting a large page would split it.
    const qsizetype keep = RoundUp(used > 0 ? used : 1, m_page);
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
