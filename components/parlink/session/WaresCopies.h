#pragma once
// The wares directories this computer uploaded and a terminal stored, kept
// by their digest. Where both ends agreed on wares rows, the program names
// the copies it keeps ("15H") before a journal download, and the terminal
// may then send a scanned barcode as the row of its wares directory that
// holds it (RecordBlock.h); the program puts the barcode back from its copy.
// A copy is only ever an aid: a terminal whose wares differ from every copy
// sends its lines as text, and a copy that is not exactly what its name says
// is not offered.
//
// A copy's file is its records in load order, each as the LEB128 of its
// length in UTF-8 and those bytes; its name is the SHA-256 of the file in
// hex, which is the digest the terminal computes over the records it keeps
// (docs/link-protocol.md, "Wares rows").
//
// The folder is the link's private one: made owner-only, and refused when it
// is not a folder of this user's that nobody else can reach. Files in it are
// opened without following links and taken only when they are this user's
// regular files of a bounded size.

#include "components/parlink/protocol/RecordBlock.h"
#include "components/parlink/security/Sha256.h"
#include "platform/FileBlock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class CSystemFile;

namespace Link {

// Copies kept at most (the newest by the time a terminal stored them).
inline constexpr int kWaresCopiesKept = 3;
// Copies named to a terminal before a journal download (each is read whole
// and checked against its digest first).
inline constexpr int kWaresCopiesOffered = 2;
// A copy larger than this is neither kept nor read.
inline constexpr qint64 kWaresCopyMaxBytes = qint64(1) << 30;

// One copy in memory: the rows a journal's block may name.
class CWaresCopy final : public CBlockReference {
public:
    // The copy in `path` when its bytes hash to `digest` and parse as
    // records; nullptr otherwise.
    static std::shared_ptr<const CWaresCopy> Load(const QString& path, const QByteArray& digest);
    // Made from records in memory (the same digest as their file would have).
    static std::shared_ptr<const CWaresCopy> FromRecords(const QStringList& records);

    QByteArray Digest() const override { return m_digest; }
    std::uint32_t RowCount() const override { return static_cast<std::uint32_t>(m_rows.size()); }
    bool AppendField(std::uint32_t row, int field, BlockCoding coding, QByteArray& out) const override;
    // A journal's rows are looked up at random: the decoder asks for them ahead.
    void PrefetchRow(std::uint32_t row, int stage) const override;
    bool AppendFields(const std::uint32_t* rows, size_t count, int field, BlockCoding coding, size_t limit,
                      std::string& out, std::vector<size_t>& ends) const override;

private:
    // The digest of m_bytes, and its rows; false when they are not records.
    bool HashAndParse();
    bool Parse();
    // Field `field` of row `row` as [*begin, *end) in the copy; false when
    // there is no such row or field.
    bool FieldOf(std::uint32_t row, int field, const char** begin, const char** end) const;
    // The field's bytes (UTF-8) appended in `coding`; false when a
    // character has no place in it.
    template <class Out>
    static bool AppendInCoding(const char* begin, const char* end, BlockCoding coding, Out& out);

    // A record's bytes in m_bytes (a copy is at most kWaresCopyMaxBytes):
    // one look-up a row, not one for its start and one for its size.
    struct Row {
        std::uint32_t start = 0;
        std::uint32_t size = 0;
    };
    QByteArray m_digest;
    // The copy's bytes and its rows' table, where the system gives large
    // pages: a journal's rows are read at random, and with small pages each
    // read waited on the page tables as well.
    CFileBlock m_bytes;
    qsizetype m_size = 0;
    CBlockArray<Row> m_rows;
};

class CWaresCopies {
public:
    // `folder`: the link's private folder for the copies; empty: none kept.
    explicit CWaresCopies(QString folder);
    ~CWaresCopies();
    CWaresCopies(const CWaresCopies&) = delete;
    CWaresCopies& operator=(const CWaresCopies&) = delete;

    // Whether copies can be kept and read here: the folder is private and
    // this user's, or not made yet (it is made when a copy is first kept).
    bool Usable();
    // The digests of the copies kept, newest first, at most `most`.
    QList<QByteArray> Held(int most);
    std::shared_ptr<const CWaresCopy> Load(const QByteArray& digest);

    // An upload's wares: records are written to a new private file as they
    // are sent; Confirm keeps it under its digest once the terminal stored
    // the load, Abandon drops it.
    void Begin();
    void Add(QStringView record);
    // A record already in generalised UTF-8 (as AppendText writes it).
    void AddUtf8(QByteArrayView record);
    bool Writing() const { return m_file != nullptr; }
    bool Confirm();
    void Abandon();

private:
    bool Exists() const;
    QString CopyPath(const QByteArray& digest) const;
    bool FlushBuffer();
    void Prune();

    QString m_folder;
    std::unique_ptr<CSystemFile> m_file;
    QString m_temp;
    QByteArray m_buffer;
    LinkTls::CSha256 m_hash;
    qint64 m_written = 0;
    bool m_failed = false;
};

}  // namespace Link
