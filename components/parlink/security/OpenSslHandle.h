#pragma once
// An OpenSSL object owned by a unique_ptr that frees it with the library's
// own function: OpenSslHandle<EVP_PKEY, EVP_PKEY_free>.

#include <memory>

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
    void operator()(T* p) const { Free(p); }
};

template <typename T, void (*Free)(T*)>
using OpenSslHandle = std::unique_ptr<T, OpenSslFree<T, Free>>;
