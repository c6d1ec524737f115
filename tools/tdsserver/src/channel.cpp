#include "channel.h"

#include "tls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace tdsserver {
namespace {

// No client message we understand comes near this; it bounds what a broken client can make us
// allocate.
constexpr std::size_t kMaxMessage = 64 * 1024 * 1024;
constexpr std::uint8_t kStatusEom = 0x01;

std::uint16_t bigEndian16(const char* p) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                                      static_cast<unsigned char>(p[1]));
}

} // namespace

Channel::Channel(int fd, std::uint16_t spid) : fd_(fd), spid_(spid) {}

Channel::~Channel() = default;

bool Channel::tlsCarriesPackets() const {
    return tls_ && tlsLive_;
}

bool Channel::handshaking() const {
    return tls_ && !tlsLive_;
}

bool Channel::inputBuffered() const {
    return input_.size() > inputPos_ || (tlsCarriesPackets() && tls_->hasBufferedInput());
}

void Channel::beginTls(std::shared_ptr<const TlsContext> context, bool loginOnly) {
    tls_ = std::make_unique<TlsSession>(std::move(context));
    tlsLoginOnly_ = loginOnly;
    tlsLive_ = false;
}

void Channel::continueHandshake(std::string_view payload) {
    if (!handshaking())
        throw ConnectionLost("a handshake message without a handshake going on");
    std::string reply;
    std::string failure;
    try {
        tls_->handshake(payload, reply);
    } catch (const TlsError& e) {
        failure = e.what();
    }
    if (!reply.empty()) {
        beginMessage(packet::kPreLogin);
        put(reply);
        endMessage();
    }
    if (!failure.empty())
        throw ConnectionLost(failure);
    // The handshake's last answer went out in clear framing; what follows goes inside TLS.
    tlsLive_ = tls_->established();
    if (tlsLive_ && input_.size() > inputPos_) {
        // Records the client sent right behind its last handshake message.
        tls_->feed(std::string_view(input_).substr(inputPos_));
        input_.clear();
        inputPos_ = 0;
    }
}

void Channel::endTls() {
    // What came behind the one packet sent inside TLS is in clear.
    input_.append(tls_->takeRest());
    tls_.reset();
    tlsLive_ = false;
}

bool Channel::fillInput(bool block) {
    if (inputClosed_)
        return false;
    if (inputPos_ > 0 && inputPos_ == input_.size()) {
        input_.clear();
        inputPos_ = 0;
    }
    char buf[16384];
    for (;;) {
        if (tlsCarriesPackets()) {
            std::size_t got = 0;
            try {
                got = tls_->read(buf, sizeof buf);
            } catch (const TlsError& e) {
                throw ConnectionLost(e.what());
            }
            if (got > 0) {
                input_.append(buf, got);
                return true;
            }
            if (tls_->closed()) {
                inputClosed_ = true;
                return false;
            }
        }
        const ssize_t n = ::recv(fd_, buf, sizeof buf, block ? 0 : MSG_DONTWAIT);
        if (n > 0 && tlsCarriesPackets()) {
            tls_->feed(std::string_view(buf, static_cast<std::size_t>(n)));
            continue;
        }
        if (n > 0) {
            input_.append(buf, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) {
            inputClosed_ = true;
            return false;
        }
        if (errno == EINTR)
            continue;
        if (!block && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        inputClosed_ = true;
        return false;
    }
}

std::optional<Message> Channel::readMessage() {
    Message message;
    bool first = true;
    lastMessageEncrypted_ = tlsCarriesPackets();
    for (;;) {
        while (input_.size() - inputPos_ < packet::kHeaderSize) {
            if (!fillInput(true)) {
                if (input_.size() == inputPos_ && first)
                    return std::nullopt;
                throw ConnectionLost("connection closed inside a message");
            }
        }
        const char* header = input_.data() + inputPos_;
        const std::size_t length = bigEndian16(header + 2);
        if (length < packet::kHeaderSize)
            throw ConnectionLost("packet length below the header size");
        while (input_.size() - inputPos_ < length) {
            if (!fillInput(true))
                throw ConnectionLost("connection closed inside a packet");
            header = input_.data() + inputPos_;
        }
        const auto type = static_cast<std::uint8_t>(header[0]);
        const auto status = static_cast<std::uint8_t>(header[1]);
        if (first) {
            message.type = type;
            first = false;
        } else if (type != message.type && type != packet::kAttention) {
            throw ConnectionLost("packet type changed inside a message");
        }
        if (type == packet::kAttention && message.type != packet::kAttention) {
            // A cancel overtaking the rest of a request: the request is dropped.
            inputPos_ += length;
            return Message{packet::kAttention, {}};
        }
        if (message.payload.size() + length > kMaxMessage)
            throw ConnectionLost("message too large");
        message.payload.append(header + packet::kHeaderSize, length - packet::kHeaderSize);
        inputPos_ += length;
        if (tlsLoginOnly_ && tlsCarriesPackets())
            endTls();
        if (status & kStatusEom)
            return message;
    }
}

bool Channel::attentionArrived() {
    if (input_.size() - inputPos_ < packet::kHeaderSize) {
        pollfd p{fd_, POLLIN, 0};
        if (!inputBuffered() && ::poll(&p, 1, 0) <= 0)
            return false;
        fillInput(false);
    }
    if (input_.size() - inputPos_ < packet::kHeaderSize)
        return false;
    const char* header = input_.data() + inputPos_;
    if (static_cast<std::uint8_t>(header[0]) != packet::kAttention)
        return false;
    const std::size_t length = std::max<std::size_t>(bigEndian16(header + 2), packet::kHeaderSize);
    while (input_.size() - inputPos_ < length) {
        if (!fillInput(true))
            throw ConnectionLost("connection closed inside a packet");
    }
    inputPos_ += length;
    return true;
}

bool Channel::waitForInput(std::chrono::milliseconds timeout) {
    if (inputBuffered() || inputClosed_)
        return true;
    pollfd p{fd_, POLLIN, 0};
    const int rc =
        ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(timeout.count(), 1 << 30)));
    return rc > 0;
}

void Channel::setPacketSize(std::size_t size) {
    packetSize_ = std::clamp<std::size_t>(size, 512, 32767);
}

void Channel::beginMessage(std::uint8_t type) {
    outType_ = type;
    packetId_ = 1;
    pending_.clear();
}

void Channel::put(std::string_view bytes) {
    pending_.append(bytes);
}

void Channel::putU16(std::uint16_t v) {
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    pending_.append(b, 2);
}

void Channel::putU32(std::uint32_t v) {
    char b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    pending_.append(b, 4);
}

void Channel::putU64(std::uint64_t v) {
    char b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    pending_.append(b, 8);
}

void Channel::flushFull() {
    const std::size_t body = packetSize_ - packet::kHeaderSize;
    // Keep at least one byte back, so that the message's last packet is never empty.
    if (pending_.size() <= body)
        return;
    std::size_t sent = 0;
    while (pending_.size() - sent > body) {
        sendPacket(std::string_view(pending_).substr(sent, body), false);
        sent += body;
    }
    pending_.erase(0, sent);
}

void Channel::endMessage() {
    flushFull();
    sendPacket(pending_, true);
    pending_.clear();
}

void Channel::dropConnection() {
    try {
        flushFull();
        if (!pending_.empty())
            sendPacket(pending_, false);
    } catch (const ConnectionLost&) {
    }
    pending_.clear();
    ::shutdown(fd_, SHUT_RDWR);
}

void Channel::sendPacket(std::string_view data, bool last) {
    const std::size_t length = data.size() + packet::kHeaderSize;
    frame_.resize(packet::kHeaderSize);
    frame_[0] = static_cast<char>(outType_);
    frame_[1] = static_cast<char>(last ? kStatusEom : 0);
    frame_[2] = static_cast<char>((length >> 8) & 0xFF);
    frame_[3] = static_cast<char>(length & 0xFF);
    frame_[4] = static_cast<char>(spid_ >> 8);
    frame_[5] = static_cast<char>(spid_ & 0xFF);
    frame_[6] = static_cast<char>(packetId_);
    frame_[7] = 0;
    packetId_ = static_cast<std::uint8_t>(packetId_ + 1);
    frame_.append(data);
    sendAll(frame_.data(), frame_.size());
    ++packetsSent_;
}

void Channel::sendAll(const char* data, std::size_t size) {
    std::string records;
    if (tlsCarriesPackets()) {
        try {
            records = tls_->encrypt(std::string_view(data, size));
        } catch (const TlsError& e) {
            throw ConnectionLost(e.what());
        }
        data = records.data();
        size = records.size();
    }
    while (size > 0) {
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ConnectionLost(std::string("send failed: ") + std::strerror(errno));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

} // namespace tdsserver
