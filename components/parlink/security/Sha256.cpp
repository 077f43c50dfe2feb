#include "components/parlink/security/Sha256.h"

#include <openssl/evp.h>

namespace LinkTls {

void CSha256::Free::operator()(evp_md_ctx_st* c) const { EVP_MD_CTX_free(c); }

CSha256::CSha256() : m_ctx(EVP_MD_CTX_new()) { Reset(); }

CSha256::~CSha256() = default;

void CSha256::Reset() { m_ok = m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_sha256(), nullptr) == 1; }

void CSha256::Add(QByteArrayView bytes) {
    if (m_ok && !bytes.isEmpty())
        m_ok = EVP_DigestUpdate(m_ctx.get(), bytes.data(), static_cast<size_t>(bytes.size())) == 1;
}

QByteArray CSha256::Result() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool ok = m_ok && EVP_DigestFinal_ex(m_ctx.get(), digest, &size) == 1;
    Reset();
    return ok ? QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size)) : QByteArray();
}

QByteArray Sha256(QByteArrayView bytes) {
    CSha256 hash;
    hash.Add(bytes);
    return hash.Result();
}

}  // namespace LinkTls
