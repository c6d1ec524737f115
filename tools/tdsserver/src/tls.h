#pragma once

// TLS 1.2 for one connection, over memory buffers: the session never touches the socket. The
// channel hands it the bytes that arrive and sends the bytes it gives back, so that the same
// session serves the handshake (carried inside PRELOGIN packets) and then the records that carry
// the packets themselves.

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

namespace tdsserver {

// The handshake failed or a record could not be read: the connection cannot go on.
class TlsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A server's certificate and key, TLS 1.2 only. Immutable once made, so connections on
// several threads share one.
class TlsContext {
public:
    // Throws std::runtime_error when the certificate or the key does not load, or they do not
    // belong together. Certificates after the first in certificatePem are sent as its chain.
    TlsContext(std::string_view certificatePem, std::string_view privateKeyPem);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* get() const { return ctx_; }

private:
    ssl_ctx_st* ctx_ = nullptr;
};

class TlsSession {
public:
    explicit TlsSession(std::shared_ptr<const TlsContext> context);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Takes the client's next handshake bytes; `reply` gets what to answer (possibly nothing).
    // Throws TlsError when the handshake fails; `reply` then holds the alert to send, if any.
    void handshake(std::string_view fromClient, std::string& reply);
    bool established() const { return established_; }

    // After the handshake: bytes received from the client.
    void feed(std::string_view received);
    // Decrypts into buf. Returns the bytes decrypted; 0 when no whole record has arrived yet,
    // or when the client closed the session (then closed() is true). Throws TlsError.
    std::size_t read(char* buf, std::size_t size);
    bool closed() const { return closed_; }
    // True when received bytes wait to be decrypted, so the socket need not be read first.
    bool hasBufferedInput() const;
    // The records that carry `plain`. Throws TlsError.
    std::string encrypt(std::string_view plain);
    // Everything received and not yet handed out: decrypted bytes first, then bytes not yet
    // decrypted. For leaving TLS, the session is of no more use afterwards.
    std::string takeRest();

private:
    std::string takeOutput();

    std::shared_ptr<const TlsContext> context_;
    ssl_st* ssl_ = nullptr;
    bio_st* in_ = nullptr;  // owned by ssl_
    bio_st* out_ = nullptr; // owned by ssl_
    bool established_ = false;
    bool closed_ = false;
};

} // namespace tdsserver
