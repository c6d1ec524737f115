#include "RecordingRelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How often the threads look whether the relay is being destroyed.
constexpr int kPollMs = 50;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Sends all of data; false when the peer is gone.
bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

RecordingRelay::RecordingRelay(std::uint16_t serverPort) : serverPort_(serverPort) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        const std::string why = std::strerror(errno);
        if (listenFd_ >= 0)
            ::close(listenFd_);
        throw std::runtime_error("the relay cannot listen: " + why);
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

RecordingRelay::~RecordingRelay() {
    stopping_ = true;
    acceptThread_.join();
    std::lock_guard lock(threadsMutex_);
    for (std::thread& t : pumps_)
        t.join();
    ::close(listenFd_);
}

std::string RecordingRelay::clientBytes() const {
    std::lock_guard lock(recordMutex_);
    return clientBytes_;
}

std::string RecordingRelay::serverBytes() const {
    std::lock_guard lock(recordMutex_);
    return serverBytes_;
}

void RecordingRelay::record(bool fromClient, const char* data, std::size_t size) {
    std::lock_guard lock(recordMutex_);
    (fromClient ? clientBytes_ : serverBytes_).append(data, size);
}

void RecordingRelay::acceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::lock_guard lock(threadsMutex_);
        pumps_.emplace_back([this, client] { pump(client); });
    }
}

void RecordingRelay::pump(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(serverPort_);
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (server >= 0)
            ::close(server);
        ::close(client);
        return;
    }
    char buf[16384];
    bool open = true;
    while (open && !stopping_) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(fds, 2, kPollMs) <= 0)
            continue;
        for (int i = 0; i < 2 && open; ++i) {
            if (fds[i].revents == 0)
                continue;
            const int from = fds[i].fd;
            const int to = i == 0 ? server : client;
            const ssize_t n = ::recv(from, buf, sizeof buf, 0);
            if (n <= 0) {
                open = false;
                break;
            }
            record(i == 0, buf, static_cast<std::size_t>(n));
            open = sendAll(to, buf, static_cast<std::size_t>(n));
        }
    }
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
    ::close(client);
    ::close(server);
}

std::string utf16le(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

bool holdsPassword(const std::string& bytes, std::string_view password) {
    const std::string plain = utf16le(password);
    std::string scrambled = plain;
    for (char& c : scrambled) {
        const auto b = static_cast<unsigned char>(c);
        c = static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
    }
    return bytes.find(plain) != std::string::npos || bytes.find(scrambled) != std::string::npos;
}

QString directConnectionString(std::uint16_t port, const QString& database, const QString& user,
                               const QString& password, const char* encryption) {
    return QStringLiteral("DRIVER={SQL Server};SERVER=127.0.0.1,%1;DATABASE=%2;UID=%3;PWD={%4};"
                          "ENCRYPTION=%5;")
        .arg(port)
        .arg(database, user, password, QLatin1String(encryption));
}
