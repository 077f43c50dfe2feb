#pragma once
// The TLS library's objects as owned handles (OpenSslHandle.h), for the
// code that builds TLS contexts and sessions from an identity.

#include "components/parlink/security/OpenSslHandle.h"

#include <openssl/ssl.h>

namespace OpenSslTls {

inline void FreeBio(BIO* b) { BIO_free(b); }

using Ctx = OpenSslHandle<SSL_CTX, SSL_CTX_free>;
using Ssl = OpenSslHandle<SSL, SSL_free>;
using Bio = OpenSslHandle<BIO, FreeBio>;
using Key = OpenSslHandle<EVP_PKEY, EVP_PKEY_free>;
using Cert = OpenSslHandle<X509, X509_free>;

}  // namespace OpenSslTls
