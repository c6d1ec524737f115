#pragma once

// Owning handles for OpenSSL objects, and the few conversions between them and PEM text.

#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <string>
#include <string_view>

namespace tdsserver::openssl {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};

inline void freeGeneralNames(GENERAL_NAMES* names) {
    GENERAL_NAMES_free(names);
}

using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BigNum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using GeneralNames = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES, freeGeneralNames>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;

// OpenSSL's queued errors of this thread as one line, the queue emptied.
inline std::string lastError() {
    std::string out;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty())
            out += "; ";
        out += buf;
    }
    return out.empty() ? "no detail" : out;
}

inline Bio readOnly(std::string_view pem) {
    return Bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

// The first certificate of a PEM text; null when there is none.
inline Cert readCertificate(std::string_view pem) {
    Bio in = readOnly(pem);
    return Cert(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
}

// The private key of a PEM text (not encrypted); null when there is none.
inline Key readPrivateKey(std::string_view pem) {
    Bio in = readOnly(pem);
    return Key(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
}

// What a memory BIO holds.
inline std::string contents(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

} // namespace tdsserver::openssl
