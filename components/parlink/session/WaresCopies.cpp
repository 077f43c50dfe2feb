#include "components/parlink/session/WaresCopies.h"

#include "components/parlink/protocol/RecordBlockStream.h"
#include "components/parlink/protocol/LinkLeb128.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/security/Sha256.h"
#include "filesafety/PrivateFile.h"
#include "platform/SystemFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Link {
namespace {

constexpr qsizetype kBufferBytes = qsizetype(1) << 20;
constexpr const char* kCopySuffix = ".wares";
constexpr const char* kTempPrefix = ".upload-";
// A part left by a program that was killed while uploading.
constexpr qint64 kStalePartSeconds = 24 * 3600;

bool OwnRegularFile(const struct stat& s) {
    return S_ISREG(s.st_mode) && s.st_uid == ::geteuid() && s.st_size >= 0 && s.st_size <= kWaresCopyMaxBytes;
}

}  // namespace

std::shared_ptr<const CWaresCopy> CWaresCopy::Load(const QString& path, const QByteArray& digest) {
    CSystemFile file;
    struct stat status {};
    if (!file.Open(path, O_RDONLY | O_NOFOLLOW) || !file.Status(&status) || !OwnRegularFile(status)) return nullptr;
    auto copy = std::make_shared<CWaresCopy>();
    const auto size = static_cast<qsizetype>(status.st_size);
    copy->m_bytes = CFileBlock(std::max<qsizetype>(size, 1));
    if (!copy->m_bytes.Data()) return nullptr;
    qint64 at = 0;
    while (at < size) {
        const qint64 n = file.ReadAt(at, copy->m_bytes.Data() + at, size - at);
        if (n <= 0) return nullptr;  // shorter than it said: changed under us
        at += n;
    }
    copy->m_size = size;
    if (!copy->HashAndParse() || copy->m_digest != digest) return nullptr;
    return copy;
}

std::shared_ptr<const CWaresCopy> CWaresCopy::FromRecords(const QStringList& records) {
    QByteArray bytes;
    for (const QString& r : records) AppendReferenceRecord(bytes, r);
    auto copy = std::make_shared<CWaresCopy>();
    copy->m_bytes = CFileBlock(std::max<qsizetype>(bytes.size(), 1));
    if (!copy->m_bytes.Data()) return nullptr;
    std::memcpy(copy->m_bytes.Data(), bytes.constData(), static_cast<size_t>(bytes.size()));
    copy->m_size = bytes.size();
    if (!copy->HashAndParse()) return nullptr;
    return copy;
}

bool CWaresCopy::HashAndParse() {
    LinkTls::CSha256 hash;
    hash.Add(QByteArrayView(m_bytes.Data(), m_size));
    m_digest = hash.Result();
    return !m_digest.isEmpty() && Parse();
}

bool CWaresCopy::Parse() {
    const auto* p = reinterpret_cast<const std::uint8_t*>(m_bytes.Data());
    const qsizetype size = m_size;
    if (size > kWaresCopyMaxBytes) return false;  // rows are 32-bit places
    // Each record's place; counted first, so that the rows' table is one
    // block (large pages: a journal's rows are looked up at random).
    const auto next = [&](qsizetype* at, std::uint64_t* length) {
        *length = 0;
        for (int shift = 0;; shift += 7) {
            if (*at >= size || shift > 28) return false;
            const std::uint8_t b = p[(*at)++];
            *length |= std::uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) break;
        }
        return *length <= static_cast<std::uint64_t>(kBlockMaxRecordBytes) &&
               *length <= static_cast<std::uint64_t>(size - *at);
    };
    size_t count = 0;
    std::uint64_t length = 0;
    for (qsizetype at = 0; at < size; at += static_cast<qsizetype>(length), ++count)
        if (!next(&at, &length)) return false;
    if (count >= 0xFFFFFFFFu || (count > 0 && !m_rows.Allocate(count))) return false;
    size_t row = 0;
    for (qsizetype at = 0; at < size; at += static_cast<qsizetype>(length)) {
        next(&at, &length);
        m_rows[row++] = Row{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)};
    }
    return true;
}

bool CWaresCopy::AppendFields(const std::uint32_t* rows, size_t count, int field, BlockCoding coding, size_t limit,
                              std::string& out, std::vector<size_t>& ends) const {
    ends.resize(count);
    // Each row's place asked for 2 × kAhead rows before it is read, its
    // bytes kAhead rows before: the rows of a journal lie anywhere in the copy.
    constexpr size_t kAhead = 16;
    const auto known = [&](size_t i) { return rows[i] < m_rows.size(); };
    for (size_t i = 0; i < std::min(count, 2 * kAhead); ++i)
        if (known(i)) __builtin_prefetch(&m_rows[rows[i]]);
    for (size_t i = 0; i < count; ++i) {
        if (i + 2 * kAhead < count && known(i + 2 * kAhead)) __builtin_prefetch(&m_rows[rows[i + 2 * kAhead]]);
        if (i + kAhead < count && known(i + kAhead))
            __builtin_prefetch(m_bytes.Data() + m_rows[rows[i + kAhead]].start);
        const char* begin = nullptr;
        const char* end = nullptr;
        if (!known(i) || !FieldOf(rows[i], field, &begin, &end) || !AppendInCoding(begin, end, coding, out)) return false;
        if (out.size() > limit) return false;
        ends[i] = out.size();
    }
    return true;
}

void CWaresCopy::PrefetchRow(std::uint32_t row, int stage) const {
    if (row >= m_rows.size()) return;
    if (stage == 0) __builtin_prefetch(&m_rows[row]);
    else __builtin_prefetch(m_bytes.Data() + m_rows[row].start);
}

bool CWaresCopy::FieldOf(std::uint32_t row, int field, const char** begin, const char** end) const {
    if (row >= m_rows.size() || field < 0 || field >= kBlockMaxColumns) return false;
    const char* b = m_bytes.Data() + m_rows[row].start;
    const char* e = b + m_rows[row].size;
    // Fields as a record is split: at ';', the last of 64 keeping the rest.
    for (int f = 0; f < field; ++f) {
        const char* semi = std::find(b, e, ';');
        if (semi == e) return false;
        b = semi + 1;
    }
    if (field < kBlockMaxColumns - 1) e = std::find(b, e, ';');
    *begin = b;
    *end = e;
    return true;
}

template <class Out>
bool CWaresCopy::AppendInCoding(const char* begin, const char* end, BlockCoding coding, Out& out) {
    if (coding == BlockCoding::Utf8 ||
        std::all_of(begin, end, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        out.append(begin, static_cast<decltype(out.size())>(end - begin));
        return true;
    }
    // A character outside the page: the terminal cannot hold this row as it was sent.
    QByteArray text;
    if (!AppendIfWindows1251(DecodeText(begin, end - begin), text)) return false;
    out.append(text.constData(), static_cast<decltype(out.size())>(text.size()));
    return true;
}

bool CWaresCopy::AppendField(std::uint32_t row, int field, BlockCoding coding, QByteArray& out) const {
    const char* begin = nullptr;
    const char* end = nullptr;
    return FieldOf(row, field, &begin, &end) && AppendInCoding(begin, end, coding, out);
}

CWaresCopies::CWaresCopies(QString folder) : m_folder(std::move(folder)) {
    if (!m_folder.isEmpty() && !m_folder.endsWith(QLatin1Char('/'))) m_folder += QLatin1Char('/');
}

CWaresCopies::~CWaresCopies() { Abandon(); }

bool CWaresCopies::Usable() {
    if (m_folder.isEmpty()) return false;
    struct stat s {};
    // Made only when a copy is first kept (Begin). Looked at without the
    // final '/', which would follow a link planted in the folder's place.
    errno = 0;
    if (!LocalStatus(m_folder.chopped(1), &s, false)) return errno == ENOENT;
    // Another user's folder, or one others may write in, could hold anything.
    return S_ISDIR(s.st_mode) && s.st_uid == ::geteuid() && (s.st_mode & 077) == 0;
}

bool CWaresCopies::Exists() const {
    struct stat s {};
    return !m_folder.isEmpty() && LocalStatus(m_folder.chopped(1), &s, false);
}

QString CWaresCopies::CopyPath(const QByteArray& digest) const {
    return m_folder + QString::fromLatin1(digest.toHex()) + QLatin1String(kCopySuffix);
}

QList<QByteArray> CWaresCopies::Held(int most) {
    QList<QByteArray> held;
    if (!Exists() || !Usable()) return held;
    struct Entry {
        QByteArray digest;
        qint64 time = 0;
    };
    std::vector<Entry> entries;
    const QStringList names = QDir(m_folder).entryList({QStringLiteral("*.wares")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QByteArray hex = name.chopped(int(qstrlen(kCopySuffix))).toLatin1();
        const QByteArray digest = QByteArray::fromHex(hex);
        struct stat s {};
        if (hex.size() != 2 * kReferenceDigestBytes || digest.toHex() != hex.toLower() ||
            !LocalStatus(m_folder + name, &s, false) || !OwnRegularFile(s))
            continue;
        entries.push_back({digest, static_cast<qint64>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.time > b.time; });
    for (const Entry& e : entries) {
        if (held.size() >= most) break;
        held.append(e.digest);
    }
    return held;
}

std::shared_ptr<const CWaresCopy> CWaresCopies::Load(const QByteArray& digest) {
    if (digest.size() != kReferenceDigestBytes || !Exists() || !Usable()) return nullptr;
    return CWaresCopy::Load(CopyPath(digest), digest);
}

void CWaresCopies::Begin() {
    Abandon();
    if (m_folder.isEmpty() || !MakePrivateFolder(m_folder) || !Usable()) return;
    for (int attempt = 0; attempt < 16 && !m_file; ++attempt) {
        m_temp = m_folder + QLatin1String(kTempPrefix) +
                 QString::number(QRandomGenerator::system()->generate64(), 16) + QStringLiteral(".part");
        auto file = std::make_unique<CSystemFile>();
        if (file->Open(m_temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600)) m_file = std::move(file);
        else if (file->ErrorNumber() != EEXIST) break;
    }
    m_hash.Reset();
    m_buffer.clear();
    m_written = 0;
    m_failed = false;
}

void CWaresCopies::Add(QStringView record) {
    QByteArray bytes;
    AppendText(bytes, record);
    AddUtf8(bytes);
}

void CWaresCopies::AddUtf8(QByteArrayView record) {
    if (!m_file || m_failed) return;
    const qsizetype before = m_buffer.size();
    AppendLeb128(m_buffer, static_cast<std::uint32_t>(record.size()));
    m_buffer.append(record);
    m_written += m_buffer.size() - before;
    if (m_written > kWaresCopyMaxBytes) m_failed = true;  // too large to keep: the journal goes as text
    else if (m_buffer.size() >= kBufferBytes) FlushBuffer();
}

bool CWaresCopies::FlushBuffer() {
    if (m_failed) return false;
    m_hash.Add(m_buffer);
    if (!m_file->Write(m_buffer)) m_failed = true;
    m_buffer.clear();
    return !m_failed;
}

bool CWaresCopies::Confirm() {
    if (!m_file) return false;
    const bool written = FlushBuffer() && m_file->Sync();
    m_file->Close();
    m_file.reset();
    const QString temp = std::exchange(m_temp, QString());
    if (!written) {
        RemoveLocalFile(temp);
        return false;
    }
    const QByteArray digest = m_hash.Result();
    if (digest.size() != kReferenceDigestBytes) {
        RemoveLocalFile(temp);
        return false;
    }
    const QString path = CopyPath(digest);
    // The same wares uploaded again: the new file replaces the old one, and
    // its time makes it the newest.
    if (!RenameLocalFile(temp, path)) {
        RemoveLocalFile(temp);
        return false;
    }
    SyncFolderOf(path);
    Prune();
    return true;
}

void CWaresCopies::Abandon() {
    if (!m_file) return;
    m_file->Close();
    m_file.reset();
    RemoveLocalFile(std::exchange(m_temp, QString()));
}

void CWaresCopies::Prune() {
    const QList<QByteArray> keep = Held(kWaresCopiesKept);
    const QDir folder(m_folder);
    for (const QString& name : folder.entryList({QStringLiteral("*.wares")}, QDir::Files | QDir::Hidden)) {
        const QByteArray digest = QByteArray::fromHex(name.chopped(int(qstrlen(kCopySuffix))).toLatin1());
        if (!keep.contains(digest)) RemoveLocalFile(m_folder + name);
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const QString& name : folder.entryList({QLatin1String(kTempPrefix) + QStringLiteral("*.part")},
                                                QDir::Files | QDir::Hidden)) {
        struct stat s {};
        if (LocalStatus(m_folder + name, &s, false) && now - s.st_mtim.tv_sec > kStalePartSeconds)
            RemoveLocalFile(m_folder + name);
    }
}

}  // namespace Link
