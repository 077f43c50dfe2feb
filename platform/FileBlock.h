#pragma once
// A block of anonymous memory that a file's bytes are read into and rows then
// point at (CDirectoryRowStore, the emulated terminal's wares and journal). It
// is reserved whole but costs memory only where it has been written, so a
// block the size of the file can be asked for before reading. The memory is the process's own: unlike a mapping of the
// file, it stays readable whatever another program does to the file meanwhile
// (truncating a mapped file would kill the reader with SIGBUS).
//
// A block of at least one large page (2 MB on x86-64) asks the system for
// large pages (transparent huge pages, where the system gives them on request):
// a million-line file then costs some thirty page faults instead of fifteen
// thousand, and measured a fifth less time than small pages asked for ahead,
// right after the file was written as well. Its memory is not asked for ahead
// of the reads (see PreparePagesForWrite): each large page comes whole at its
// first write, and asking ahead for large pages measured slower and far less
// steady. Only the large pages wholly inside the capacity are asked for, so
// the block never holds more memory than its small pages would.

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <type_traits>

class CFileBlock {
public:
    CFileBlock() = default;
    // A block of at least `capacity` bytes; empty (Data() null) when the
    // system has no memory for it.
    explicit CFileBlock(qsizetype capacity);
    ~CFileBlock();
    CFileBlock(CFileBlock&& other) noexcept;
    CFileBlock& operator=(CFileBlock&& other) noexcept;
    CFileBlock(const CFileBlock&) = delete;
    CFileBlock& operator=(const CFileBlock&) = delete;

    char* Data() const { return m_data; }
    qsizetype Capacity() const { return m_capacity; }
    // Gives back the memory beyond the first `used` bytes (to the page).
    void Shrink(qsizetype used);

private:
    void Release();

    char* m_data = nullptr;
    qsizetype m_capacity = 0;  // usable bytes
    qsizetype m_mapped = 0;    // bytes mapped from m_data (the capacity, to the page)
};

// Asks the system for the small pages wholly inside [from, from + bytes) of a
// block of `blockCapacity` bytes at once, before a read fills them: one call
// instead of a page fault per page (a million-line load measured some 7 %
// faster). Nothing in a block of large pages. Only advice: where the system
// does not take it, the pages come one fault at a time.
void PreparePagesForWrite(char* from, qsizetype bytes, qsizetype blockCapacity);

// The size of a large page when blocks of this size or more are given large
// pages, 0 when the system gives none (or they are too big to be worth it).
qsizetype LargePageBytes();

// The file at `path` read whole into a block of its own (`*block`, `*size`
// its bytes), as far as it went when it was opened: a file that grows
// meanwhile is read to that size, one that shrinks as far as it goes. An
// empty file gives an empty block. False, and nothing read, when it cannot
// be opened or read, holds more than `limit` bytes, or the system has no
// memory for it.
bool ReadFileIntoBlock(const QString& path, qint64 limit, CFileBlock* block, qsizetype* size);

// The line feeds in `bytes`, `size` of them.
size_t CountLineFeeds(const char* bytes, qsizetype size);

// `count` values of a trivial type in a block (large pages where the system
// gives them), all bytes zero at first: for tables read at random, where
// small pages make every lookup wait on the page tables too.
template <class T>
class CBlockArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    // False when the system has no memory for them (the array is then empty).
    bool Allocate(size_t count) {
        m_block = count > 0 ? CFileBlock(qsizetype(count * sizeof(T))) : CFileBlock();
        m_count = m_block.Data() ? count : 0;
        return m_count == count;
    }
    // Keeps the first `count` values and gives back the memory after them.
    void Shrink(size_t count) {
        if (count >= m_count) return;
        m_block.Shrink(qsizetype(count * sizeof(T)));
        m_count = count;
    }
    T* data() const { return reinterpret_cast<T*>(m_block.Data()); }
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    T& operator[](size_t i) const { return data()[i]; }

private:
    CFileBlock m_block;
    size_t m_count = 0;
};
