#include "tls.h"

#include "openssl_util.h"

#include <openssl/ssl.h>

namespace tdsserver {
namespace {

constexpr std::size_t kChunk = 16384;

} // namespace

TlsContext::TlsContext(std::string_view certificatePem, std::string_view privateKeyPem) {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (!ctx_)
        throw std::runtime_error("cannot set up TLS: " + openssl::lastError());
    // TLS 1.2 and nothing else, as SQL Server negotiates it inside PRELOGIN. No session tickets
    // and no renegotiation: every connection makes one full handshake.
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx_, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_OFF);

    const auto fail = [this](const std::string& what) {
        const std::string detail = openssl::lastError();
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
        throw std::runtime_error(what + ": " + detail);
    };
    openssl::Bio certs = openssl::readOnly(certificatePem);
    openssl::Cert leaf(certs ? PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!leaf || SSL_CTX_use_certificate(ctx_, leaf.get()) != 1)
        fail("the TLS certificate does not load");
    while (openssl::Cert extra{PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr)}) {
        if (SSL_CTX_add1_chain_cert(ctx_, extra.get()) != 1)
            fail("a certificate of the chain does not load");
    }
    ERR_clear_error(); // the end of the PEM text, reported as an error by the loop above
    openssl::Key key = openssl::readPrivateKey(privateKeyPem);
    if (!key || SSL_CTX_use_PrivateKey(ctx_, key.get()) != 1)
        fail("the TLS private key does not load");
    if (SSL_CTX_check_private_key(ctx_) != 1)
        fail("the TLS private key does not belong to the certificate");
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

TlsSession::TlsSession(std::shared_ptr<const TlsContext> context) : context_(std::move(context)) {
    ssl_ = SSL_new(context_->get());
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        BIO_free(in_);
        BIO_free(out_);
        SSL_free(ssl_);
        throw std::runtime_error("cannot set up TLS: " + openssl::lastError());
    }
    // An empty buffer means "nothing yet", never the end of the stream.
    BIO_set_mem_eof_return(in_, -1);
    BIO_set_mem_eof_return(out_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
}

TlsSession::~TlsSession() {
    SSL_free(ssl_);
}

std::string TlsSession::takeOutput() {
    std::string out;
    char buf[kChunk];
    for (;;) {
        const int n = BIO_read(out_, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

void TlsSession::handshake(std::string_view fromClient, std::string& reply) {
    feed(fromClient);
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    reply = takeOutput();
    if (rc == 1) {
        established_ = true;
        return;
    }
    if (SSL_get_error(ssl_, rc) == SSL_ERROR_WANT_READ)
        return;
    throw TlsError("TLS handshake failed: " + openssl::lastError());
}

void TlsSession::feed(std::string_view received) {
    while (!received.empty()) {
        const int n = BIO_write(in_, received.data(),
                                static_cast<int>(std::min<std::size_t>(received.size(), 1 << 20)));
        if (n <= 0)
            throw TlsError("cannot buffer TLS input");
        received.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::size_t TlsSession::read(char* buf, std::size_t size) {
    if (closed_)
        return 0;
    ERR_clear_error();
    const int n = SSL_read(ssl_, buf, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
    if (n > 0)
        return static_cast<std::size_t>(n);
    switch (SSL_get_error(ssl_, n)) {
    case SSL_ERROR_WANT_READ:
        return 0;
    case SSL_ERROR_ZERO_RETURN:
        closed_ = true;
        return 0;
    default:
        throw TlsError("TLS record rejected: " + openssl::lastError());
    }
}

bool TlsSession::hasBufferedInput() const {
    return SSL_pending(ssl_) > 0 || BIO_ctrl_pending(in_) > 0;
}

std::string TlsSession::encrypt(std::string_view plain) {
    std::string out;
    while (!plain.empty()) {
        const std::size_t part = std::min(plain.size(), kChunk);
        ERR_clear_error();
        const int n = SSL_write(ssl_, plain.data(), static_cast<int>(part));
        if (n <= 0)
            throw TlsError("TLS write failed: " + openssl::lastError());
        plain.remove_prefix(static_cast<std::size_t>(n));
        out += takeOutput();
    }
    return out;
}

std::string TlsSession::takeRest() {
    std::string rest;
    char buf[kChunk];
    while (SSL_pending(ssl_) > 0) {
        const int n = SSL_read(ssl_, buf, sizeof buf);
        if (n <= 0)
            break;
        rest.append(buf, static_cast<std::size_t>(n));
    }
    for (;;) {
        const int n = BIO_read(in_, buf, sizeof buf);
        if (n <= 0)
            break;
        rest.append(buf, static_cast<std::size_t>(n));
    }
    ERR_clear_error();
    return rest;
}

} // namespace tdsserver
