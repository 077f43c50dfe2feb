#pragma once
// A block of anonymous memory that a file's bytes are read into and rows then
// point at (CDirectoryRowStore). It is reserved whole but costs memory only
// where it has been written, so a block the size of the file can be asked for
// before reading. The memory is the process's own: unlike a mapping of the
// file, it stays readable whatever another program does to the file meanwhile
// (truncating a mapped file would kill the reader with SIGBUS).
//
// Small pages on purpose: large ones (MADV_HUGEPAGE) save the page faults, but
// the system zeroes each 2 MB page on first touch, and on a virtual machine
// fresh large pages cost the host's faults as well; measured, a load right
// after the file was written took two to three times as long with them.

#include <QtGlobal>

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

// Asks the system for the pages wholly inside [from, from + bytes) at once,
// before a read fills them: one call instead of a page fault per page (a
// million-line load measured some 7 % faster). Only advice: where the system
// does not take it, the pages come one fault at a time.
void PreparePagesForWrite(char* from, qsizetype bytes);
