#pragma once
// The rows of a directory table, held compactly: a wares directory of a
// million lines must fit in less memory than twice its file. Each row is one
// run of bytes in a chunked arena: for each cell a header (LEB128 of the
// length times two, plus one for a UTF-16 cell) followed by the cell's bytes.
// A cell loaded from a file keeps the file's bytes exactly, valid in its code
// page or not (no conversion until the cell is shown, and none on the save);
// a cell holding a character the code page cannot represent (typed by the
// user) is kept as UTF-16 instead, so nothing typed is lost before the save
// converts it. Editing one cell re-encodes that cell only. Cells are decoded on
// demand; nothing is allocated per cell.
//
// A directory file read as it stands is not copied row by row at all: its
// bytes are read into a block of the store (AddLineBlock) and each row points
// at its line there (AppendLine), its cells found at the ';' between them when
// asked for. Such a row reads exactly as the same fields stored one by one;
// the first edit of the row stores it cell by cell like any other.

#include "platform/FileBlock.h"
#include "platform/CodePage.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// A field as a cell holds it: without the blanks, CR and LF at its ends.
inline QByteArrayView TrimField(QByteArrayView field) {
    const auto trimmed = [](char c) { return c == ' ' || c == '\r' || c == '\n'; };
    qsizetype begin = 0;
    qsizetype end = field.size();
    while (begin < end && trimmed(field[begin])) ++begin;
    while (end > begin && trimmed(field[end - 1])) --end;
    return field.sliced(begin, end - begin);
}

class CDirectoryRowStore {
public:
    CDirectoryRowStore() = default;
    CDirectoryRowStore(const CDirectoryRowStore&) = delete;
    CDirectoryRowStore& operator=(const CDirectoryRowStore&) = delete;
    CDirectoryRowStore(CDirectoryRowStore&&) = default;
    CDirectoryRowStore& operator=(CDirectoryRowStore&&) = default;

    // One cell as stored: bytes in the table's code page, or UTF-16 text.
    struct StoredCell {
        QByteArrayView bytes;
        bool utf16 = false;
    };

    int Count() const { return static_cast<int>(m_rows.size()); }
    // Number of cells stored for the row; cells beyond it are empty.
    int CellCount(int row) const { return m_rows[row].Cells(); }

    // Appends a row of cells already in the code page.
    void AppendEncoded(const QByteArrayView* cells, int count);
    // Appends a row of cells, each in the code page or UTF-16.
    void AppendCells(const StoredCell* cells, int count);
    // Appends a row of texts; each cell is kept encoded when the code page
    // holds every character of it, as UTF-16 otherwise.
    void AppendText(const QStringList& cells, const CodePage::CCodec& codec);
    // Replaces one cell (0-based) of a row, the others keep their bytes.
    void SetCellText(int row, int cell, const QString& text, const CodePage::CCodec& codec);
    // Converts every encoded cell from one code page to another (a cell the
    // new code page cannot hold becomes UTF-16).
    void Recode(const CodePage::CCodec& from, const CodePage::CCodec& to);

    // Cell `cell` (0-based) of a row as text; empty beyond the row's cells.
    QString Cell(int row, int cell, const CodePage::CCodec& codec) const;
    QStringList Cells(int row, const CodePage::CCodec& codec) const;
    // Appends cell `cell` in the code page to `out` (for writing files).
    void AppendCellEncoded(int row, int cell, const CodePage::CCodec& codec, QByteArray& out) const;
    // Appends cells 0..count-1 of a row in the code page, ';' between them
    // (an empty field for each cell beyond the row's), in one pass over the row.
    void AppendCellsEncoded(int row, int count, const CodePage::CCodec& codec, QByteArray& out) const;

    // A block of `capacity` bytes for a file's lines, owned by the store;
    // `block` names it for AppendLine. Null when there is no memory for it.
    char* AddLineBlock(qsizetype capacity, quint32* block);
    // Gives back what lies beyond the first `used` bytes of the block.
    void EndLineBlock(quint32 block, qsizetype used);
    // Appends a row whose cells are the fields of `line` (bytes inside the
    // block, fields separated by ';', each read without the blanks, CR and LF
    // at its ends); the row has its first `cells` fields, the rest read as
    // empty (the caller leaves out trailing empty ones, as stored rows do).
    void AppendLine(quint32 block, QByteArrayView line, int cells);

    void Remove(int row);
    void Clear();
    void Reserve(int rows) { m_rows.reserve(size_t(qMax(rows, 0))); }

    // Bytes held by the store (arena chunks and row records), for the benchmark.
    qsizetype MemoryBytes() const;

    static constexpr int kMaxCells = 0xFFFF;

private:
    // 12 bytes a row: a million-line directory spends 12 MB on them.
    struct RowRef {
        quint32 offset;  // in its chunk
        quint32 size;    // bytes
        quint32 tag;     // cell count (bits 0-15), file line (bit 16), chunk (bits 17-31)
        int Cells() const { return static_cast<int>(tag & 0xFFFFu); }
        bool IsLine() const { return (tag & kLineBit) != 0; }
        quint32 Chunk() const { return tag >> kChunkShift; }
    };
    static constexpr quint32 kLineBit = 1u << 16;
    static constexpr int kChunkShift = 17;
    static constexpr qsizetype kMaxChunks = qsizetype(1) << (32 - kChunkShift);
    static RowRef MakeRef(quint32 chunk, quint32 offset, quint32 size, int cells, bool line) {
        return {offset, size, (chunk << kChunkShift) | (line ? kLineBit : 0u) | quint32(cells)};
    }
    struct Chunk {
        CFileBlock block;
        qsizetype used = 0;
        qsizetype Capacity() const { return block.Capacity(); }
        char* Data() const { return block.Data(); }
    };

    char* Allocate(qsizetype bytes, quint32* chunk, quint32* offset);
    void AddChunk(qsizetype capacity);
    RowRef Store(const StoredCell* cells, int count);
    StoredCell CellAt(int row, int cell) const;

    std::vector<Chunk> m_chunks;
    std::vector<RowRef> m_rows;  // appended once a line: a plain vector appends cheapest
    qsizetype m_garbage = 0;  // bytes of replaced or removed rows
};
