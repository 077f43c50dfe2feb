#include "tools/kxterminal/TerminalWares.h"

#include "components/parlink/LinkMessage.h"
#include "components/parlink/RecordBlockStream.h"
#include "platform/CodePage.h"

#include <QCryptographicHash>
#include <QFile>

#include <sys/stat.h>

namespace {

// Field `field` of a record split at ';' (the 64th keeps the rest); false
// when it has fewer fields.
bool FieldOf(std::string_view record, int field, std::string_view* out) {
    if (field < 0 || field >= Link::kBlockMaxColumns) return false;
    for (int f = 0; f < field; ++f) {
        const size_t semi = record.find(';');
        if (semi == std::string_view::npos) return false;
        record.remove_prefix(semi + 1);
    }
    *out = field < Link::kBlockMaxColumns - 1 ? record.substr(0, record.find(';')) : record;
    return true;
}

}  // namespace

std::shared_ptr<const CTerminalWares> CTerminalWares::Read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    auto wares = std::make_shared<CTerminalWares>();
    wares->m_bytes = file.readAll();
    const std::string_view all(wares->m_bytes.constData(), static_cast<size_t>(wares->m_bytes.size()));
    // The digest is over the records as texts, in the form the program keeps
    // its copy in: a row kept differently from how it was sent (a character
    // outside the page) gives another digest, and the rows are then not used.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray record;
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find("\r\n", at);
        const size_t next = end == std::string_view::npos ? all.size() : end + 2;
        if (end == std::string_view::npos) end = all.size();
        const std::string_view row = all.substr(at, end - at);
        const auto index = static_cast<std::uint32_t>(wares->m_rows.size());
        wares->m_rows.push_back(row);
        std::string_view barcode;
        if (FieldOf(row, kBarcodeField, &barcode) && !barcode.empty()) wares->m_barcodes.try_emplace(barcode, index);
        record.clear();
        Link::AppendReferenceRecord(record, CodePage::FromWindows1251(row.data(), static_cast<qsizetype>(row.size())));
        hash.addData(record);
        at = next;
    }
    wares->m_digest = hash.result();
    return wares;
}

bool CTerminalWares::AppendField(std::uint32_t row, int field, Link::BlockCoding coding, QByteArray& out) const {
    std::string_view f;
    if (row >= m_rows.size() || !FieldOf(m_rows[row], field, &f)) return false;
    if (coding == Link::BlockCoding::Windows1251) out.append(f.data(), static_cast<qsizetype>(f.size()));
    else Link::AppendText(out, CodePage::FromWindows1251(f.data(), static_cast<qsizetype>(f.size())));
    return true;
}

std::int64_t CTerminalWares::Find(int field, QByteArrayView value) const {
    if (field != kBarcodeField) return -1;
    const auto it = m_barcodes.find(std::string_view(value.data(), static_cast<size_t>(value.size())));
    return it == m_barcodes.end() ? -1 : it->second;
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
