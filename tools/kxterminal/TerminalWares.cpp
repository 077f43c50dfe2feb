#include "tools/kxterminal/TerminalWares.h"

#include "components/parlink/protocol/LinkLeb128.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "components/parlink/security/Sha256.h"
#include "platform/CodePage.h"

#include <QFile>

#include <sys/stat.h>

#include <bit>
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

// Eight bytes as read from memory on a little-endian machine: whether all
// are ASCII digits (each byte's high nibble 3, and adding 6 does not carry
// out of its low one), and the number they write.
bool EightDigits(std::uint64_t w) {
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull, kThrees = 0x3030303030303030ull;
    return (w & kHigh) == kThrees && ((w + 0x0606060606060606ull) & kHigh) == kThrees;
}
std::uint64_t EightDigitsValue(std::uint64_t w) {
    w -= 0x3030303030303030ull;
    w = w * 10 + (w >> 8);  // pairs of digits
    return (((w & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
            (((w >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
           32;
}

// A barcode's key in the index: up to 16 digits with their count above
// them (bits 54 on), so "0123" and "123" differ; anything else a hash with
// the top bit set, which no digits' key has. `*digits` says which. Below
// the count: the digits' number, or from 9 to 16 digits the number of the
// first eight times 10^8 plus that of the last eight (they overlap), which
// is as unique and below 10^16 < 2^54 too.
std::uint64_t KeyOf(std::string_view barcode, bool* digits) {
    const size_t n = barcode.size();
    const char* const p = barcode.data();
    if constexpr (std::endian::native == std::endian::little) {
        if (n >= 8 && n <= 16) {
            std::uint64_t first, last;
            std::memcpy(&first, p, 8);
            std::memcpy(&last, p + n - 8, 8);
            if (EightDigits(first) && EightDigits(last)) {
                *digits = true;
                return (static_cast<std::uint64_t>(n) << 54) |
                       (EightDigitsValue(first) * 100000000ull + EightDigitsValue(last));
            }
            *digits = false;
            return HashOf(barcode) | (std::uint64_t(1) << 63);
        }
    }
    if (n >= 1 && n <= 16) {
        std::uint64_t value = 0, high = 0;
        size_t i = 0;
        for (; i < n; ++i) {
            const auto d = static_cast<std::uint8_t>(p[i] - '0');
            if (d > 9) break;
            value = value * 10 + d;
            if (i == 7) high = value;
        }
        if (i == n) {
            // The same key as the eight-at-a-time reading gives.
            if (n >= 8) {
                std::uint64_t lastEight = 0;
                for (size_t k = n - 8; k < n; ++k) lastEight = lastEight * 10 + static_cast<std::uint8_t>(p[k] - '0');
                value = high * 100000000ull + lastEight;
            }
            *digits = true;
            return (static_cast<std::uint64_t>(n) << 54) | value;
        }
    }
    *digits = false;
    return HashOf(barcode) | (std::uint64_t(1) << 63);
}

// The slot a key's probe starts at: the key's bits mixed, so that close
// numbers spread over the table.
std::uint64_t SlotHash(std::uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdull;
    key ^= key >> 33;
    key *= 0xc4ceb9fe1a85ec53ull;
    key ^= key >> 33;
    return key;
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
    // Runs of ASCII (codes, barcodes, numbers) are appended whole.
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end) {
        const char* run = p;
        while (end - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            if (w & 0x8080808080808080ull) break;
            p += 8;
        }
        while (p != end && static_cast<std::uint8_t>(*p) < 0x80) ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p != end) out.append(table[static_cast<std::uint8_t>(*p++)]);
    }
}


}  // namespace

bool CTerminalWares::IndexBarcodes() {
    std::uint64_t size = 16;
    while (size < 2 * m_rows.size()) size <<= 1;
    if (!m_slots.Allocate(size)) return false;  // every slot empty
    m_mask = size - 1;
    // The barcodes' places first, in order through the file; then their
    // keys into the slots, whose places are random: the slots of the rows
    // further on are asked for meanwhile.
    for (std::uint32_t row = 0; row < m_rows.size(); ++row) {
        std::string_view barcode;
        if (!FieldOf(ViewOf(m_rows[row].bytes), kBarcodeField, &barcode)) continue;
        m_rows[row].barcode = Span{static_cast<std::uint32_t>(barcode.data() - m_bytes.Data()),
                                   static_cast<std::uint32_t>(barcode.size())};
    }
    constexpr std::uint32_t kAhead = 16;
    const auto slotOf = [this](std::uint32_t row, std::uint64_t* key, bool* digits) {
        *key = KeyOf(ViewOf(m_rows[row].barcode), digits);
        return SlotHash(*key) & m_mask;
    };
    for (std::uint32_t row = 0; row < m_rows.size(); ++row) {
        std::uint64_t key = 0;
        bool digits = false;
        if (row + kAhead < m_rows.size() && m_rows[row + kAhead].barcode.size > 0)
            __builtin_prefetch(&m_slots[slotOf(row + kAhead, &key, &digits)], 1);
        const Span place = m_rows[row].barcode;
        if (place.at == kNone || place.size == 0) continue;
        std::uint64_t i = slotOf(row, &key, &digits);
        m_anyHashed = m_anyHashed || !digits;
        // The first row of a barcode wins, as a lookup of a scan would find it.
        bool known = false;
        while (m_slots[i].row != 0) {
            const Slot& slot = m_slots[i];
            if (slot.key == key && (digits || ViewOf(m_rows[slot.row - 1].barcode) == ViewOf(place))) {
                known = true;
                break;
            }
            i = (i + 1) & m_mask;
        }
        if (!known) m_slots[i] = Slot{key, row + 1, 0};
    }
    return true;
}

std::shared_ptr<const CTerminalWares> CTerminalWares::Read(const QString& path) {
    auto wares = std::make_shared<CTerminalWares>();
    qsizetype size = 0;
    // Rows are indexed by 32-bit offsets.
    if (!ReadFileIntoBlock(path, 0xFFFFFFFEll, &wares->m_bytes, &size)) return nullptr;
    const std::string_view all(wares->m_bytes.Data(), static_cast<size_t>(size));
    // A row ends at each CR LF: there are no more rows than line feeds + 1.
    const size_t lineFeeds = CountLineFeeds(all.data(), size);
    if (!wares->m_rows.Allocate(lineFeeds + 1)) return nullptr;
    size_t rows = 0;
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
        Row& r = wares->m_rows[rows++];
        r = Row{Span{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - at)}, Span{}};
        const size_t first = std::min(row.find(';'), row.size());
        if (first <= kFirstInline) {
            r.first[0] = static_cast<unsigned char>(first);
            std::memcpy(r.first + 1, row.data(), first);
        }
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
    wares->m_rows.Shrink(rows);
    if (!wares->IndexBarcodes()) return nullptr;
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
    const Row& r = m_rows[row];
    if (field == kBarcodeField) return r.barcode.at != kNone && ViewOf(r.barcode) == wanted;
    if (field == 0 && r.first[0] != kFirstElsewhere) return FirstFieldIs(r, wanted);
    std::string_view f;
    return FieldOf(ViewOf(m_rows[row].bytes), field, &f) && f == wanted;
}

std::int64_t CTerminalWares::Probe(std::uint64_t key, std::string_view wanted) const {
    // Digits and their count are the barcode; a hash (top bit set) is only a hint.
    const bool digits = (key >> 63) == 0;
    for (std::uint64_t i = SlotHash(key) & m_mask;; i = (i + 1) & m_mask) {
        const Slot& slot = m_slots[i];
        if (slot.row == 0) return -1;
        if (slot.key != key) continue;
        const std::uint32_t row = slot.row - 1;
        if (digits || ViewOf(m_rows[row].barcode) == wanted) return row;
    }
}

std::int64_t CTerminalWares::Find(int field, QByteArrayView value) const {
    if (field != kBarcodeField || m_slots.empty()) return -1;
    const std::string_view wanted(value.data(), static_cast<size_t>(value.size()));
    bool digits = false;
    return Probe(KeyOf(wanted, &digits), wanted);
}

void CTerminalWares::FindMany(int field, const std::string_view* values, size_t count, std::int64_t* rows) const {
    if (field != kBarcodeField || m_slots.empty() || m_anyHashed) {
        // A barcode other than digits needs its row's bytes as well as its
        // slot: the general way, with its stages of hints.
        CBlockReference::FindMany(field, values, count, rows);
        return;
    }
    // Every key first, in one pass over the values; then the slots, each
    // asked for kAhead lookups before it is read. (The rows found are not
    // asked for here: the column that compares their codes asks for them
    // itself, nearer the time.)
    std::vector<std::uint64_t> keys(count);
    for (size_t i = 0; i < count; ++i) {
        bool digits = false;
        keys[i] = KeyOf(values[i], &digits);
    }
    constexpr size_t kAhead = 16;
    for (size_t i = 0; i < std::min(count, kAhead); ++i) __builtin_prefetch(&m_slots[SlotHash(keys[i]) & m_mask]);
    for (size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) __builtin_prefetch(&m_slots[SlotHash(keys[i + kAhead]) & m_mask]);
        rows[i] = Probe(keys[i], values[i]);
    }
}

void CTerminalWares::FieldsEqual(int field, Link::BlockCoding coding, const std::int64_t* rows,
                                 const std::string_view* values, size_t count, char* equal) const {
    if (field != 0 || coding != Link::BlockCoding::Windows1251) {
        CBlockReference::FieldsEqual(field, coding, rows, values, count, equal);
        return;
    }
    // The ware's code of every row (a journal's "same row" column): each
    // row's 32 bytes asked for kAhead fields before they are compared, and
    // the code compared where it is kept beside them.
    constexpr size_t kAhead = 16;
    const auto known = [&](size_t i) { return rows[i] >= 0 && static_cast<std::uint64_t>(rows[i]) < m_rows.size(); };
    for (size_t i = 0; i < std::min(count, kAhead); ++i)
        if (known(i)) __builtin_prefetch(&m_rows[static_cast<std::uint32_t>(rows[i])]);
    for (size_t i = 0; i < count; ++i) {
        if (i + kAhead < count && known(i + kAhead)) __builtin_prefetch(&m_rows[static_cast<std::uint32_t>(rows[i + kAhead])]);
        if (!known(i)) {
            equal[i] = 0;
            continue;
        }
        const auto row = static_cast<std::uint32_t>(rows[i]);
        const Row& r = m_rows[row];
        const std::string_view wanted = values[i];
        if (r.first[0] != kFirstElsewhere) {
            equal[i] = FirstFieldIs(r, wanted);
            continue;
        }
        std::string_view f;
        equal[i] = FieldOf(ViewOf(r.bytes), 0, &f) && f == wanted;
    }
}

void CTerminalWares::Prefetch(int field, QByteArrayView value, int stage) const {
    // Only a barcode other than digits needs more than its slot: without
    // one in the index, the later stages have nothing to bring in.
    if (field != kBarcodeField || m_slots.empty() || (stage > 0 && !m_anyHashed)) return;
    const std::string_view wanted(value.data(), static_cast<size_t>(value.size()));
    bool digits = false;
    const std::uint64_t key = KeyOf(wanted, &digits);
    const Slot* slot = &m_slots[SlotHash(key) & m_mask];
    if (stage == 0) {
        __builtin_prefetch(slot);
        return;
    }
    // A barcode of digits needs its slot alone. Any other needs the row's
    // barcode place (stage 1) and the barcode (stage 2), from the first
    // slot only: it holds the barcode unless the keys collided.
    if (digits || slot->row == 0) return;
    const Row& row = m_rows[slot->row - 1];
    if (stage == 1) __builtin_prefetch(&row);
    else if (row.barcode.at != kNone) __builtin_prefetch(m_bytes.Data() + row.barcode.at);
}

void CTerminalWares::PrefetchRow(std::uint32_t row, int stage) const {
    if (row >= m_rows.size()) return;
    // A row whose first field is kept beside its places needs its bytes only
    // for another field, which a journal's rows do not name.
    if (stage == 0) __builtin_prefetch(&m_rows[row]);
    else if (m_rows[row].first[0] == kFirstElsewhere) __builtin_prefetch(m_bytes.Data() + m_rows[row].bytes.at);
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
