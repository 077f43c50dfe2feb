#pragma once
// The rows of a directory table, held compactly: a wares directory of a
// million lines must fit in less memory than twice its file. Each row is one
// run of bytes in a chunked arena: for each cell a length (LEB128) followed by
// the cell's bytes. A row loaded from a file keeps the file's bytes in its code
// page (no conversion until a cell is shown); a row holding a character the
// code page cannot represent (typed by the user) is kept as UTF-16 instead, so
// nothing typed is lost before the save converts it. Cells are decoded on
// demand; nothing is allocated per cell.

#include "platform/CodePage.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class CDirectoryRowStore {
public:
    CDirectoryRowStore() = default;
    CDirectoryRowStore(const CDirectoryRowStore&) = delete;
    CDirectoryRowStore& operator=(const CDirectoryRowStore&) = delete;
    CDirectoryRowStore(CDirectoryRowStore&&) = default;
    CDirectoryRowStore& operator=(CDirectoryRowStore&&) = default;

    int Count() const { return static_cast<int>(m_rows.size()); }
    // Number of cells stored for the row; cells beyond it are empty.
    int CellCount(int row) const { return m_rows[row].cells; }
    // True when the row holds bytes in the table's code page.
    bool IsEncoded(int row) const { return !(m_rows[row].flags & kUtf16); }

    // Appends a row of cells already in the code page.
    void AppendEncoded(const QByteArrayView* cells, int count);
    // Appends a row of texts; kept encoded when the code page holds every
    // character, as UTF-16 otherwise.
    void AppendText(const QStringList& cells, const CodePage::CCodec& codec);
    // Replaces a row.
    void SetText(int row, const QStringList& cells, const CodePage::CCodec& codec);

    // Cell `cell` (0-based) of a row as text; empty beyond the row's cells.
    QString Cell(int row, int cell, const CodePage::CCodec& codec) const;
    QStringList Cells(int row, const CodePage::CCodec& codec) const;
    // Appends cell `cell` in the code page to `out` (for writing files).
    void AppendCellEncoded(int row, int cell, const CodePage::CCodec& codec, QByteArray& out) const;

    void Remove(int row);
    void Clear();
    void Reserve(int rows) { m_rows.reserve(rows); }

    // Bytes held by the store (arena chunks and row records), for the benchmark.
    qsizetype MemoryBytes() const;

    static constexpr int kMaxCells = 0xFFFF;

private:
    static constexpr quint16 kUtf16 = 1;
    struct RowRef {
        quint32 chunk;
        quint32 offset;
        quint32 size;
        quint16 cells;
        quint16 flags;
    };
    struct Chunk {
        std::unique_ptr<char[]> data;
        qsizetype capacity = 0;
        qsizetype used = 0;
    };

    char* Allocate(qsizetype bytes, RowRef* ref);
    RowRef Store(const QByteArrayView* cells, int count, quint16 flags);
    // The bytes of one cell of a row.
    QByteArrayView CellBytes(int row, int cell) const;

    std::vector<Chunk> m_chunks;
    QList<RowRef> m_rows;
    qsizetype m_garbage = 0;  // bytes of replaced or removed rows
};
