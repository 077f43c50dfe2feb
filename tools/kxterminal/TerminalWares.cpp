#include "tools/kxterminal/TerminalWares.h"

#include "components/parlink/protocol/LinkLeb128.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "components/parlink/security/Sha256.h"
#include "platform/CodePage.h"

#include <QFile>

#include <sys/stat.h>

#include <cstring>
#include <memory>

namespace {

// Field `field` of a record split at ';' (the 64th keeps the rest); false
// when it has fewer fields.
bool FieldOf(std::string_view record, int field, std::string_view* out) {
    if (field < 0 || field >= Link::kBlockMaxColumns) return false;
    // Fields are short: a plain loop beats a library call per field.
    const char* p = record.data();
    const char* const end = p + record.size();
    for (int f = 0; f < field; ++f) {
        while (p != end && *p != ';') ++p;
        if (p == end) return false;
        ++p;
    }
    const char* stop = p;
    if (field < Link::kBlockMaxColumns - 1)
        while (stop != end && *stop != ';') ++stop;
    else
        stop = end;
    *out = std::string_view(p, static_cast<size_t>(stop - p));
    return true;
}

std::uint64_t HashOf(std::string_view bytes) {
    // Eight bytes at a time (a barcode is two loads), then mixed so the low
    // bits that pick a slot depend on every byte. Only this process's index
    // uses it: nothing stored or sent depends on its values.
    const char* const p = bytes.data();
    const size_t n = bytes.size();
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    const auto mix = [&h](std::uint64_t w) {
        h = (h ^ w) * 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    };
    if (n < 8) {
        std::uint64_t w = 0;
        if (n > 0) std::memcpy(&w, p, n);  // an empty view may have no data at all
        mix(w);
    } else {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            mix(w);
        }
        if (i < n) {  // the last eight bytes, overlapping the ones before
            std::uint64_t w;
            std::memcpy(&w, p + n - 8, 8);
            mix(w);
        }
    }
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

// Windows-1251 bytes appended as UTF-8 (the digest's form) without a
// detour through UTF-16.
void AppendUtf8Of1251(std::string_view bytes, std::string& out) {
    static const auto table = [] {
        std::vector<std::string> t(256);
        for (int b = 0x80; b < 0x100; ++b) {
            const char c = static_cast<char>(b);
            t[static_cast<size_t>(b)] = CodePage::FromWindows1251(&c, 1).toStdString();
        }
        return t;
    }();
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80) out.push_back(c);
        else out.append(table[b]);
    }
}


}  // namespace

void CTerminalWares::IndexBarcodes() {
    std::uint64_t size = 16;
    while (size < 2 * m_rows.size()) size <<= 1;
    m_slots.assign(size, 0);
    m_mask = size - 1;
    for (std::uint32_t row = 0; row < m_rows.size(); ++row) {
        std::string_view barcode;
        if (!FieldOf(ViewOf(m_rows[row].bytes), kBarcodeField, &barcode)) continue;
        m_rows[row].barcode = Span{static_cast<std::uint32_t>(barcode.data() - m_bytes.constData()),
                               static_cast<std::uint32_t>(barcode.size())};
        if (barcode.empty()) continue;
        // The first row of a barcode wins, as a lookup of a scan would find it.
        if (Find(kBarcodeField, QByteArrayView(barcode.data(), static_cast<qsizetype>(barcode.size()))) >= 0) continue;
        const std::uint64_t h = HashOf(barcode);
        std::uint64_t i = h & m_mask;
        while (m_slots[i] != 0) i = (i + 1) & m_mask;
        m_slots[i] = (h & 0xFFFFFFFF00000000ull) | (row + 1);
    }
}

std::shared_ptr<const CTerminalWares> CTerminalWares::Read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    auto wares = std::make_shared<CTerminalWares>();
    // Rows are indexed by 32-bit offsets.
    if (file.size() >= 0xFFFFFFFFll) return nullptr;
    wares->m_bytes = file.readAll();
    const std::string_view all(wares->m_bytes.constData(), static_cast<size_t>(wares->m_bytes.size()));
    // The digest is over the records as texts, in the form the program keeps
    // its copy in: a row kept differently from how it was sent (a character
    // outside the page) gives another digest, and the rows are then not used.
    LinkTls::CSha256 hash;
    // The hashed form of many records at a time: one call to the hash per
    // 64 KiB, not two per record.
    std::string pending, utf8;
    pending.reserve(70000);
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find("\r\n", at);
        const size_t next = end == std::string_view::npos ? all.size() : end + 2;
        if (end == std::string_view::npos) end = all.size();
        const std::string_view row = all.substr(at, end - at);
        wares->m_rows.push_back(Row{Span{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - at)}, Span{}});
        utf8.clear();
        AppendUtf8Of1251(row, utf8);
        Link::AppendLeb128(pending, utf8.size());
        pending += utf8;
        if (pending.size() >= 65536) {
            hash.Add(QByteArrayView(pending.data(), static_cast<qsizetype>(pending.size())));
            pending.clear();
        }
        at = next;
    }
    hash.Add(QByteArrayView(pending.data(), static_cast<qsizetype>(pending.size())));
    wares->m_digest = hash.Result();
    if (wares->m_digest.isEmpty()) return nullptr;
    wares->IndexBarcodes();
    return wares;
}

bool CTerminalWares::AppendField(std::uint32_t row, int field, Link::BlockCoding coding, QByteArray& out) const {
    std::string_view f;
    if (row >= m_rows.size() || !FieldOf(ViewOf(m_rows[row].bytes), field, &f)) return false;
    if (coding == Link::BlockCoding::Windows1251) out.append(f.data(), static_cast<qsizetype>(f.size()));
    else Link::AppendText(out, CodePage::FromWindows1251(f.data(), static_cast<qsizetype>(f.size())));
    return true;
}

bool CTerminalWares::FieldEquals(std::uint32_t row, int field, Link::BlockCoding coding, QByteArrayView value) const {
    if (coding != Link::BlockCoding::Windows1251) return CBlockReference::FieldEquals(row, field, coding, value);
    if (row >= m_rows.size()) return false;
    const std::string_view wanted(value.data(), static_cast<size_t>(value.size()));
    if (field == kBarcodeField) return m_rows[row].barcode.at != kNone && ViewOf(m_rows[row].barcode) == wanted;
    std::string_view f;
    return FieldOf(ViewOf(m_rows[row].bytes), field, &f) && f == wanted;
}

std::int64_t CTerminalWares::Find(int field, QByteArrayView value) const {
    if (field != kBarcodeField || m_slots.empty()) return -1;
    const std::string_view wanted(value.data(), static_cast<size_t>(value.size()));
    const std::uint64_t h = HashOf(wanted);
    for (std::uint64_t i = h & m_mask;; i = (i + 1) & m_mask) {
        const std::uint64_t slot = m_slots[i];
        if (slot == 0) return -1;
        if ((slot & 0xFFFFFFFF00000000ull) != (h & 0xFFFFFFFF00000000ull)) continue;
        const auto row = static_cast<std::uint32_t>(slot - 1);
        // Every indexed row has its barcode's place.
        if (ViewOf(m_rows[row].barcode) == wanted) return row;
    }
}

void CTerminalWares::Prefetch(int field, QByteArrayView value, int stage) const {
    if (field != kBarcodeField || m_slots.empty()) return;
    const std::uint64_t h = HashOf(std::string_view(value.data(), static_cast<size_t>(value.size())));
    const std::uint64_t* slot = &m_slots[h & m_mask];
    if (stage == 0) {
        __builtin_prefetch(slot);
        return;
    }
    // The first slot only: it holds the barcode unless the hash collided.
    if (*slot == 0) return;
    const Row& row = m_rows[static_cast<std::uint32_t>(*slot - 1)];
    if (stage == 1) {
        __builtin_prefetch(&row);
        return;
    }
    // The barcode, and the row's start, where the fields that go as "the
    // same as that row's" usually are.
    __builtin_prefetch(m_bytes.constData() + row.bytes.at);
    if (row.barcode.at != kNone) __builtin_prefetch(m_bytes.constData() + row.barcode.at);
}

void CTerminalWares::PrefetchRow(std::uint32_t row, int stage) const {
    if (row >= m_rows.size()) return;
    if (stage == 0) __builtin_prefetch(&m_rows[row]);
    else __builtin_prefetch(m_bytes.constData() + m_rows[row].bytes.at);
}

std::shared_ptr<const CTerminalWares> CTerminalWaresCache::Get(const QString& path) {
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0) {
        m_wares.reset();
        m_path.clear();
        return nullptr;
    }
    const qint64 modified = static_cast<qint64>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
    if (!m_wares || path != m_path || s.st_size != m_size || modified != m_modified ||
        static_cast<qint64>(s.st_ino) != m_inode) {
        m_wares = CTerminalWares::Read(path);
        m_path = path;
        m_size = s.st_size;
        m_modified = modified;
        m_inode = static_cast<qint64>(s.st_ino);
    }
    return m_wares;
}
