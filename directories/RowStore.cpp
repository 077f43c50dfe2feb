#include "directories/RowStore.h"

#include <QVarLengthArray>

#include <cstring>
#include <new>

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;

int VarIntSize(quint32 v) {
    int n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

char* PutVarInt(char* p, quint32 v) {
    while (v >= 0x80) {
        *p++ = static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<char>(v);
    return p;
}

const char* GetVarInt(const char* p, quint32* v) {
    quint32 result = 0;
    int shift = 0;
    unsigned char b;
    do {
        b = static_cast<unsigned char>(*p++);
        result |= quint32(b & 0x7F) << shift;
        shift += 7;
    } while (b & 0x80);
    *v = result;
    return p;
}

inline quint32 Header(const CDirectoryRowStore::StoredCell& cell) {
    return (static_cast<quint32>(cell.bytes.size()) << 1) | (cell.utf16 ? 1u : 0u);
}

QString FromUtf16Bytes(QByteArrayView bytes) {
    QString text(bytes.size() / 2, Qt::Uninitialized);
    if (!text.isEmpty()) std::memcpy(text.data(), bytes.data(), size_t(text.size()) * 2);
    return text;
}

// The stored form of one text: the code page's bytes when they give the text
// back, the text's UTF-16 otherwise. `bytes` owns what the cell points at.
CDirectoryRowStore::StoredCell EncodeCell(const QString& text, const CodePage::CCodec& codec,
                                          QByteArray& bytes) {
    bytes = codec.Encode(text);
    if (codec.Decode(bytes) == text) return {QByteArrayView(bytes), false};
    bytes = QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return {QByteArrayView(bytes), true};
}

}  // namespace

void CDirectoryRowStore::AddChunk(qsizetype capacity) {
    // Rows name their chunk in 15 bits: 32768 chunks of at least 1 MB each
    // is more than any directory gets to, edits included.
    if (qsizetype(m_chunks.size()) >= kMaxChunks) throw std::bad_alloc();
    Chunk chunk;
    chunk.block = CFileBlock(capacity);
    if (!chunk.Data()) throw std::bad_alloc();
    m_chunks.push_back(std::move(chunk));
}

char* CDirectoryRowStore::Allocate(qsizetype bytes, quint32* chunk, quint32* offset) {
    // A new chunk never moves the old ones: views into them stay valid. A
    // line block counts as full, so stored rows never go into one.
    if (m_chunks.empty() || m_chunks.back().Capacity() - m_chunks.back().used < bytes)
        AddChunk(bytes > kChunkBytes ? bytes : kChunkBytes);
    Chunk& last = m_chunks.back();
    *chunk = static_cast<quint32>(m_chunks.size() - 1);
    *offset = static_cast<quint32>(last.used);
    char* p = last.Data() + last.used;
    last.used += bytes;
    return p;
}

char* CDirectoryRowStore::AddLineBlock(qsizetype capacity, quint32* block) {
    try {
        AddChunk(capacity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    Chunk& chunk = m_chunks.back();
    chunk.used = chunk.Capacity();
    *block = static_cast<quint32>(m_chunks.size() - 1);
    return chunk.Data();
}

void CDirectoryRowStore::EndLineBlock(quint32 block, qsizetype used) {
    Chunk& chunk = m_chunks[block];
    chunk.block.Shrink(used);
    chunk.used = chunk.Capacity();
}

void CDirectoryRowStore::AppendLine(quint32 block, QByteArrayView line, int cells) {
    const char* base = m_chunks[block].Data();
    m_rows.push_back(MakeRef(block, static_cast<quint32>(line.data() - base),
                          static_cast<quint32>(line.size()), qBound(0, cells, kMaxCells), true));
}

CDirectoryRowStore::RowRef CDirectoryRowStore::Store(const StoredCell* cells, int count) {
    if (count > kMaxCells) count = kMaxCells;
    // Trailing empty cells read the same as missing ones: do not store them.
    while (count > 0 && cells[count - 1].bytes.isEmpty()) --count;
    qsizetype bytes = 0;
    for (int i = 0; i < count; ++i) bytes += VarIntSize(Header(cells[i])) + cells[i].bytes.size();
    if (bytes == 0) return MakeRef(0, 0, 0, count, false);
    quint32 chunk = 0;
    quint32 offset = 0;
    char* p = Allocate(bytes, &chunk, &offset);
    const RowRef ref = MakeRef(chunk, offset, static_cast<quint32>(bytes), count, false);
    for (int i = 0; i < count; ++i) {
        p = PutVarInt(p, Header(cells[i]));
        if (!cells[i].bytes.isEmpty()) {
            std::memcpy(p, cells[i].bytes.data(), static_cast<size_t>(cells[i].bytes.size()));
            p += cells[i].bytes.size();
        }
    }
    return ref;
}

void CDirectoryRowStore::AppendEncoded(const QByteArrayView* cells, int count) {
    QVarLengthArray<StoredCell, 16> stored;
    for (int i = 0; i < count; ++i) stored.append({cells[i], false});
    m_rows.push_back(Store(stored.data(), static_cast<int>(stored.size())));
}

void CDirectoryRowStore::AppendCells(const StoredCell* cells, int count) {
    m_rows.push_back(Store(cells, count));
}

void CDirectoryRowStore::AppendText(const QStringList& cells, const CodePage::CCodec& codec) {
    QVarLengthArray<QByteArray, 16> bytes(cells.size());
    QVarLengthArray<StoredCell, 16> stored;
    for (qsizetype i = 0; i < cells.size(); ++i) stored.append(EncodeCell(cells[i], codec, bytes[i]));
    m_rows.push_back(Store(stored.data(), static_cast<int>(stored.size())));
}

void CDirectoryRowStore::SetCellText(int row, int cell, const QString& text,
                                     const CodePage::CCodec& codec) {
    if (cell < 0 || cell >= kMaxCells) return;
    const int count = qMax(CellCount(row), cell + 1);
    QVarLengthArray<StoredCell, 16> stored;
    for (int i = 0; i < count; ++i) stored.append(CellAt(row, i));
    QByteArray bytes;
    stored[cell] = EncodeCell(text, codec, bytes);
    m_garbage += m_rows[row].size;
    m_rows[row] = Store(stored.data(), count);
}

void CDirectoryRowStore::Recode(const CodePage::CCodec& from, const CodePage::CCodec& to) {
    CDirectoryRowStore recoded;
    recoded.Reserve(Count());
    QVarLengthArray<QByteArray, 16> bytes;
    QVarLengthArray<StoredCell, 16> stored;
    for (int row = 0; row < Count(); ++row) {
        const int count = CellCount(row);
        bytes.resize(count);
        stored.clear();
        for (int i = 0; i < count; ++i) {
            const StoredCell cell = CellAt(row, i);
            stored.append(cell.utf16 ? cell
                                     : EncodeCell(from.Decode(cell.bytes.data(), cell.bytes.size()),
                                                  to, bytes[i]));
        }
        recoded.AppendCells(stored.data(), count);
    }
    *this = std::move(recoded);
}

CDirectoryRowStore::StoredCell CDirectoryRowStore::CellAt(int row, int cell) const {
    const RowRef& ref = m_rows[row];
    if (cell < 0 || cell >= ref.Cells()) return {};
    const char* p = m_chunks[ref.Chunk()].Data() + ref.offset;
    if (ref.IsLine()) {
        const char* const end = p + ref.size;
        for (int i = 0;; ++i) {
            const void* hit = std::memchr(p, ';', size_t(end - p));
            const char* stop = hit ? static_cast<const char*>(hit) : end;
            if (i == cell) return {TrimField(QByteArrayView(p, stop - p)), false};
            p = stop + 1;
        }
    }
    quint32 header = 0;
    for (int i = 0;; ++i) {
        p = GetVarInt(p, &header);
        if (i == cell) return {QByteArrayView(p, header >> 1), (header & 1) != 0};
        p += header >> 1;
    }
}

QString CDirectoryRowStore::Cell(int row, int cell, const CodePage::CCodec& codec) const {
    const StoredCell stored = CellAt(row, cell);
    if (stored.bytes.isEmpty()) return QString();
    if (stored.utf16) return FromUtf16Bytes(stored.bytes);
    return codec.Decode(stored.bytes.data(), stored.bytes.size());
}

QStringList CDirectoryRowStore::Cells(int row, const CodePage::CCodec& codec) const {
    QStringList cells;
    const int count = CellCount(row);
    cells.reserve(count);
    for (int i = 0; i < count; ++i) cells.append(Cell(row, i, codec));
    return cells;
}

void CDirectoryRowStore::AppendCellEncoded(int row, int cell, const CodePage::CCodec& codec,
                                           QByteArray& out) const {
    const StoredCell stored = CellAt(row, cell);
    if (stored.bytes.isEmpty()) return;
    if (stored.utf16)
        codec.AppendEncoded(FromUtf16Bytes(stored.bytes), out);
    else
        out.append(stored.bytes.data(), stored.bytes.size());
}

void CDirectoryRowStore::AppendCellsEncoded(int row, int count, const CodePage::CCodec& codec,
                                            QByteArray& out) const {
    if (count <= 0) return;
    const RowRef& ref = m_rows[row];
    const int stored = qMin(ref.Cells(), count);
    const char* p = stored > 0 ? m_chunks[ref.Chunk()].Data() + ref.offset : nullptr;
    if (ref.IsLine()) {
        // The fields as they stand in the line, while none needs trimming:
        // then the line's own bytes up to the last cell, in one piece.
        // A line that holds no cell has no bytes to step through (and p is null).
        const char* const end = stored > 0 ? p + ref.size : p;
        const char* pending = p;  // start of the bytes not yet appended
        for (int i = 0; i < stored; ++i) {
            const void* hit = std::memchr(p, ';', size_t(end - p));
            const char* stop = hit ? static_cast<const char*>(hit) : end;
            const QByteArrayView field(p, stop - p);
            const QByteArrayView trimmed = TrimField(field);
            if (trimmed.size() != field.size()) {
                out.append(pending, p - pending);
                out.append(trimmed.data(), trimmed.size());
                pending = stop;
            }
            p = stop + 1;
        }
        if (stored > 0) {
            const char* const last = p - 1;  // the end of the last cell's field
            out.append(pending, last - pending);
        }
    } else {
        quint32 header = 0;
        for (int i = 0; i < stored; ++i) {
            if (i > 0) out.append(';');
            p = GetVarInt(p, &header);
            const qsizetype size = header >> 1;
            if (header & 1)
                codec.AppendEncoded(FromUtf16Bytes(QByteArrayView(p, size)), out);
            else
                out.append(p, size);
            p += size;
        }
    }
    // Empty cells beyond the row's: their separators.
    for (int i = stored > 0 ? stored : 1; i < count; ++i) out.append(';');
}

void CDirectoryRowStore::Remove(int row) {
    m_garbage += m_rows[row].size;
    m_rows.erase(m_rows.begin() + row);
}

void CDirectoryRowStore::Clear() {
    std::vector<RowRef>().swap(m_rows);
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    m_garbage = 0;
}

qsizetype CDirectoryRowStore::MemoryBytes() const {
    qsizetype bytes = qsizetype(m_rows.capacity() * sizeof(RowRef));
    for (const Chunk& c : m_chunks) bytes += c.Capacity();
    return bytes;
}
