#include "directories/RowStore.h"

#include <QVarLengthArray>

#include <cstring>

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

QString FromUtf16Bytes(QByteArrayView bytes) {
    QString text(bytes.size() / 2, Qt::Uninitialized);
    if (!text.isEmpty()) std::memcpy(text.data(), bytes.data(), size_t(text.size()) * 2);
    return text;
}

}  // namespace

char* CDirectoryRowStore::Allocate(qsizetype bytes, RowRef* ref) {
    if (m_chunks.empty() || m_chunks.back().capacity - m_chunks.back().used < bytes) {
        Chunk chunk;
        chunk.capacity = bytes > kChunkBytes ? bytes : kChunkBytes;
        chunk.data.reset(new char[static_cast<size_t>(chunk.capacity)]);
        m_chunks.push_back(std::move(chunk));
    }
    Chunk& last = m_chunks.back();
    ref->chunk = static_cast<quint32>(m_chunks.size() - 1);
    ref->offset = static_cast<quint32>(last.used);
    ref->size = static_cast<quint32>(bytes);
    char* p = last.data.get() + last.used;
    last.used += bytes;
    return p;
}

CDirectoryRowStore::RowRef CDirectoryRowStore::Store(const QByteArrayView* cells, int count,
                                                     quint16 flags) {
    if (count > kMaxCells) count = kMaxCells;
    // Trailing empty cells read the same as missing ones: do not store them.
    while (count > 0 && cells[count - 1].isEmpty()) --count;
    qsizetype bytes = 0;
    for (int i = 0; i < count; ++i)
        bytes += VarIntSize(static_cast<quint32>(cells[i].size())) + cells[i].size();
    RowRef ref{0, 0, 0, static_cast<quint16>(count), flags};
    if (bytes == 0) return ref;
    char* p = Allocate(bytes, &ref);
    for (int i = 0; i < count; ++i) {
        p = PutVarInt(p, static_cast<quint32>(cells[i].size()));
        if (!cells[i].isEmpty()) {
            std::memcpy(p, cells[i].data(), static_cast<size_t>(cells[i].size()));
            p += cells[i].size();
        }
    }
    return ref;
}

void CDirectoryRowStore::AppendEncoded(const QByteArrayView* cells, int count) {
    m_rows.append(Store(cells, count, 0));
}

namespace {

// Encodes the cells when the code page holds every character; otherwise
// leaves `utf16` set and the cells as UTF-16 bytes.
void EncodeRow(const QStringList& cells, const CodePage::CCodec& codec,
               QList<QByteArray>& encoded, bool* utf16) {
    *utf16 = false;
    encoded.clear();
    encoded.reserve(cells.size());
    for (const QString& cell : cells) {
        QByteArray bytes = codec.Encode(cell);
        if (!*utf16 && codec.Decode(bytes) != cell) *utf16 = true;
        encoded.append(std::move(bytes));
    }
    if (*utf16) {
        for (int i = 0; i < cells.size(); ++i)
            encoded[i] = QByteArray(reinterpret_cast<const char*>(cells[i].utf16()),
                                    cells[i].size() * 2);
    }
}

}  // namespace

void CDirectoryRowStore::AppendText(const QStringList& cells, const CodePage::CCodec& codec) {
    QList<QByteArray> encoded;
    bool utf16 = false;
    EncodeRow(cells, codec, encoded, &utf16);
    QVarLengthArray<QByteArrayView, 16> views;
    for (const QByteArray& b : encoded) views.append(QByteArrayView(b));
    m_rows.append(Store(views.data(), static_cast<int>(views.size()), utf16 ? kUtf16 : 0));
}

void CDirectoryRowStore::SetText(int row, const QStringList& cells, const CodePage::CCodec& codec) {
    QList<QByteArray> encoded;
    bool utf16 = false;
    EncodeRow(cells, codec, encoded, &utf16);
    QVarLengthArray<QByteArrayView, 16> views;
    for (const QByteArray& b : encoded) views.append(QByteArrayView(b));
    m_garbage += m_rows[row].size;
    m_rows[row] = Store(views.data(), static_cast<int>(views.size()), utf16 ? kUtf16 : 0);
}

QByteArrayView CDirectoryRowStore::CellBytes(int row, int cell) const {
    const RowRef& ref = m_rows[row];
    if (cell < 0 || cell >= ref.cells) return {};
    const char* p = m_chunks[ref.chunk].data.get() + ref.offset;
    quint32 length = 0;
    for (int i = 0;; ++i) {
        p = GetVarInt(p, &length);
        if (i == cell) return QByteArrayView(p, length);
        p += length;
    }
}

QString CDirectoryRowStore::Cell(int row, int cell, const CodePage::CCodec& codec) const {
    const QByteArrayView bytes = CellBytes(row, cell);
    if (bytes.isEmpty()) return QString();
    if (m_rows[row].flags & kUtf16) return FromUtf16Bytes(bytes);
    return codec.Decode(bytes.data(), bytes.size());
}

QStringList CDirectoryRowStore::Cells(int row, const CodePage::CCodec& codec) const {
    QStringList cells;
    const int count = m_rows[row].cells;
    cells.reserve(count);
    for (int i = 0; i < count; ++i) cells.append(Cell(row, i, codec));
    return cells;
}

void CDirectoryRowStore::AppendCellEncoded(int row, int cell, const CodePage::CCodec& codec,
                                           QByteArray& out) const {
    const QByteArrayView bytes = CellBytes(row, cell);
    if (bytes.isEmpty()) return;
    if (m_rows[row].flags & kUtf16)
        codec.AppendEncoded(FromUtf16Bytes(bytes), out);
    else
        out.append(bytes.data(), bytes.size());
}

void CDirectoryRowStore::Remove(int row) {
    m_garbage += m_rows[row].size;
    m_rows.remove(row);
}

void CDirectoryRowStore::Clear() {
    m_rows = QList<RowRef>();
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    m_garbage = 0;
}

qsizetype CDirectoryRowStore::MemoryBytes() const {
    qsizetype bytes = m_rows.capacity() * qsizetype(sizeof(RowRef));
    for (const Chunk& c : m_chunks) bytes += c.capacity;
    return bytes;
}
