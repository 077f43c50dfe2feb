#include "directories/FileBlock.h"

#include <sys/mman.h>
#include <unistd.h>

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

}  // namespace

CFileBlock::CFileBlock(qsizetype capacity) {
    if (capacity <= 0) return;
    const qsizetype mapped = RoundUp(capacity, PageSize());
    void* p = ::mmap(nullptr, size_t(mapped), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    m_data = static_cast<char*>(p);
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

void PreparePagesForWrite(char* from, qsizetype bytes) {
#ifdef MADV_POPULATE_WRITE
    const auto page = quintptr(PageSize());
    const quintptr start = (reinterpret_cast<quintptr>(from) + page - 1) / page * page;
    const quintptr end = (reinterpret_cast<quintptr>(from) + quintptr(bytes)) / page * page;
    if (end > start) ::madvise(reinterpret_cast<void*>(start), size_t(end - start), MADV_POPULATE_WRITE);
#else
    Q_UNUSED(from);
    Q_UNUSED(bytes);
#endif
}
