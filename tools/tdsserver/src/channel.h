#pragma once

// One client connection at the packet level: reassembles the client's messages from packets,
// and splits the server's messages into packets of the negotiated size as they are written, so
// that a result of any size streams without being held in memory. Once TLS is agreed, the same
// packets travel inside TLS records, still one at a time.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tdsserver {

class TlsContext;
class TlsSession;

namespace packet {
inline constexpr std::uint8_t kSqlBatch = 0x01;
inline constexpr std::uint8_t kRpc = 0x03;
inline constexpr std::uint8_t kReply = 0x04;
inline constexpr std::uint8_t kAttention = 0x06;
inline constexpr std::uint8_t kTransactionManager = 0x0E;
inline constexpr std::uint8_t kLogin7 = 0x10;
inline constexpr std::uint8_t kPreLogin = 0x12;
inline constexpr std::size_t kHeaderSize = 8;
} // namespace packet

// The peer went away or broke the framing; the connection cannot go on.
class ConnectionLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Message {
    std::uint8_t type = 0;
    std::string payload;
};

class Channel {
public:
    // Does not own fd: the server closes it once this connection's thread has ended.
    Channel(int fd, std::uint16_t spid);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Blocks for the next complete message; nullopt once the peer has closed the connection.
    std::optional<Message> readMessage();
    // Without blocking: true when an ATTENTION packet is next in the input, which it consumes.
    bool attentionArrived();
    // Waits up to timeout for input; true when something (or the end of input) arrived.
    bool waitForInput(std::chrono::milliseconds timeout);
    bool inputClosed() const { return inputClosed_; }

    // TLS as the PRELOGIN exchange agreed it. Until the handshake is done its records travel as
    // the payload of PRELOGIN packets, in both directions (continueHandshake); from then on
    // they carry the packets themselves. With loginOnly, TLS ends after the client's first
    // packet that arrives inside it, the first of its LOGIN7, and both directions go on in clear.
    void beginTls(std::shared_ptr<const TlsContext> context, bool loginOnly);
    // Takes a PRELOGIN payload as the client's handshake bytes and answers in PRELOGIN packets.
    // Throws ConnectionLost when the handshake fails (after sending TLS's alert, if any).
    void continueHandshake(std::string_view payload);
    // TLS is agreed and its handshake not finished.
    bool handshaking() const;
    // Whether the first packet of the message readMessage returned last came inside TLS.
    bool lastMessageEncrypted() const { return lastMessageEncrypted_; }

    void setPacketSize(std::size_t size);
    std::size_t packetSize() const { return packetSize_; }

    void beginMessage(std::uint8_t type);
    void put(std::string_view bytes);
    void putByte(std::uint8_t v) { pending_.push_back(static_cast<char>(v)); }
    void putU16(std::uint16_t v);
    void putU32(std::uint32_t v);
    void putU64(std::uint64_t v);
    // The message's unsent bytes, for writing rows in place; a caller may also cut it back to
    // an earlier size to take back what it wrote last.
    std::string& buffer() { return pending_; }
    // Sends what is buffered as the message's last packet.
    void endMessage();
    // Sends the complete packets buffered so far, if any, without ending the message.
    void flushFull();
    // Sends whatever is buffered as an unfinished packet, then cuts the connection.
    void dropConnection();

    // How many packets have gone out; lets a caller look for a cancel once per packet.
    std::uint64_t packetsSent() const { return packetsSent_; }

private:
    bool fillInput(bool block);
    bool tlsCarriesPackets() const;
    bool inputBuffered() const;
    void endTls();
    void sendPacket(std::string_view data, bool last);
    void sendAll(const char* data, std::size_t size);

    int fd_;
    std::uint16_t spid_;
    std::size_t packetSize_ = 4096;
    std::string input_;
    std::size_t inputPos_ = 0;
    bool inputClosed_ = false;
    bool lastMessageEncrypted_ = false;

    std::unique_ptr<TlsSession> tls_;
    bool tlsLoginOnly_ = false;
    bool tlsLive_ = false; // the handshake is over: records carry the packets

    std::uint8_t outType_ = packet::kReply;
    std::uint8_t packetId_ = 1;
    std::string pending_; // payload not yet sent
    std::string frame_;
    std::uint64_t packetsSent_ = 0;
};

} // namespace tdsserver
