#pragma once
// A 64-bit digest of a file's bytes (the XXH64 function), fed piece by piece
// as the bytes are read: the pieces may be cut anywhere, the digest is that of
// all of them in a row. It tells whether a file still holds the bytes read
// earlier (another program saved over it meanwhile), at memory speed: a
// million-line directory is digested in a few milliseconds while its bytes
// are still in the cache after the read, where a cryptographic digest would
// take longer than the whole load. Not meant to resist a forger: nobody gains
// from making the editor overlook a change it would otherwise ask about.

#include <QString>
#include <QtGlobal>

class CContentDigest {
public:
    explicit CContentDigest(quint64 seed = 0);

    void Feed(const char* data, qsizetype size);
    // The digest of every byte fed so far (feeding may go on after it).
    quint64 Result() const;
    qint64 Bytes() const { return m_total; }

private:
    static constexpr int kStripe = 32;
    void Stripe(const unsigned char* p);

    quint64 m_seed;
    quint64 m_lane[4];
    qint64 m_total = 0;
    unsigned char m_tail[kStripe] = {};
    int m_tailSize = 0;
};

// A file's digest and size as they are now.
struct FileContentState {
    bool exists = false;  // the file could be read to its end
    qint64 size = 0;
    quint64 digest = 0;

    bool SameContent(const FileContentState& other) const {
        return exists == other.exists && size == other.size && digest == other.digest;
    }
};

// Reads the whole file; not `exists` when it cannot be opened or read.
FileContentState ReadFileContentState(const QString& path);
