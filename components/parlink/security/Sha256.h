#pragma once
// SHA-256 through OpenSSL, which uses the processor's SHA instructions where
// it has them (several times Qt's own code): the digests of wares lists of
// tens of megabytes that both ends of the link take.

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct evp_md_ctx_st;

namespace LinkTls {

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;
    // Starts over.
    void Reset();
    void Add(QByteArrayView bytes);
    // The 32-byte digest of everything added since the last Reset; empty
    // when OpenSSL failed (out of memory).
    QByteArray Result();

private:
    struct Free {
        void operator()(evp_md_ctx_st* c) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_ctx;
    bool m_ok = false;
};

// The digest of `bytes` (empty on failure).
QByteArray Sha256(QByteArrayView bytes);

}  // namespace LinkTls
