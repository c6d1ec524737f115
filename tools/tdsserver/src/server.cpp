#include "tdsserver/server.h"

#include "state.h"
#include "tls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tdsserver {
namespace {

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Joins and closes the connections whose threads have ended; all of them when `all` is set
// (after their sockets were shut down).
void reap(Server::State& s, bool all) {
    std::list<std::unique_ptr<Server::State::Connection>> done;
    {
        std::lock_guard lock(s.connectionsMutex);
        for (auto it = s.connections.begin(); it != s.connections.end();) {
            if (all || (*it)->finished) {
                done.push_back(std::move(*it));
                it = s.connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) {
        if (c->thread.joinable())
            c->thread.join();
        closeFd(c->fd);
    }
}

void acceptLoop(const std::shared_ptr<Server::State>& s) {
    std::uint16_t nextSpid = 51;
    for (;;) {
        pollfd fds[2] = {{s->listenFd, POLLIN, 0}, {s->wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0 || s->stopping)
            return;
        const int fd = ::accept4(s->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reap(*s, false);
        auto connection = std::make_unique<Server::State::Connection>();
        connection->fd = fd;
        auto* raw = connection.get();
        const std::uint16_t spid = nextSpid;
        nextSpid = static_cast<std::uint16_t>(nextSpid >= 30000 ? 51 : nextSpid + 1);
        const bool never = s->neverAnswer;
        auto tls = s->currentTls();
        std::lock_guard lock(s->connectionsMutex);
        if (s->stopping) {
            closeFd(connection->fd);
            return;
        }
        raw->thread = std::thread([s, raw, spid, never, tls = std::move(tls)]() mutable {
            runSession(s, raw->fd, spid, never, std::move(tls));
            raw->finished = true;
        });
        s->connections.push_back(std::move(connection));
    }
}

} // namespace

Server::Server(Config config) : state_(std::make_shared<State>(std::move(config))) {}

Server::~Server() {
    stop();
}

void Server::addDatabase(const std::string& name, const std::string& sqlitePath) {
    state_->databases.add(name, sqlitePath);
}

void Server::execSql(const std::string& database, const std::string& sql,
                     const std::string& schema) {
    state_->databases.execSql(database, sql, schema);
}

void Server::setCatalog(const std::string& database, std::vector<CatalogEntry> entries) {
    state_->databases.setCatalog(database, std::move(entries));
}

void Server::resetCatalog(const std::string& database) {
    state_->databases.setCatalog(database, std::nullopt);
}

std::uint16_t Server::start(std::uint16_t port) {
    State& s = *state_;
    std::lock_guard lock(s.lifecycleMutex);
    if (s.listenFd >= 0)
        throw std::runtime_error("the server is already running");
    if (s.config.encryption != Config::Encryption::None && !s.currentTls()) {
        if (s.config.certificatePem.empty() && s.config.privateKeyPem.empty()) {
            const Certificate own = makeLocalhostCertificate();
            setCertificate(own.certificatePem, own.privateKeyPem);
        } else {
            setCertificate(s.config.certificatePem, s.config.privateKeyPem);
        }
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    if (::pipe2(s.wakeFds, O_CLOEXEC) != 0) {
        ::close(fd);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    s.listenFd = fd;
    s.port = ntohs(addr.sin_port);
    s.stopping = false;
    s.acceptThread = std::thread(acceptLoop, state_);
    return s.port;
}

std::uint16_t Server::port() const {
    return state_->port;
}

void Server::stop() {
    State& s = *state_;
    std::lock_guard lock(s.lifecycleMutex);
    if (s.listenFd < 0)
        return;
    s.stopping = true;
    const char wake = 1;
    [[maybe_unused]] const auto n = ::write(s.wakeFds[1], &wake, 1);
    if (s.acceptThread.joinable())
        s.acceptThread.join();
    {
        std::lock_guard connections(s.connectionsMutex);
        for (auto& c : s.connections)
            ::shutdown(c->fd, SHUT_RDWR); // wakes a session blocked on its socket
    }
    reap(s, true);
    closeFd(s.listenFd);
    closeFd(s.wakeFds[0]);
    closeFd(s.wakeFds[1]);
    s.port = 0;
}

void Server::setCertificate(const std::string& certificatePem, const std::string& privateKeyPem) {
    auto context = std::make_shared<const TlsContext>(certificatePem, privateKeyPem);
    std::lock_guard lock(state_->tlsMutex);
    state_->tls = std::move(context);
}

void Server::holdTextSize(bool hold) {
    state_->holdTextSize = hold;
}

void Server::refuseLogins(bool refuse) {
    state_->refuseLogins = refuse;
}

void Server::dropAfterRows(std::int64_t n) {
    state_->dropAfterRows = n;
}

void Server::firstRowDelay(std::chrono::milliseconds delay) {
    state_->firstRowDelayMs = delay.count();
}

void Server::loginDelay(std::chrono::milliseconds delay) {
    state_->loginDelayMs = delay.count();
}

void Server::packetDelay(std::chrono::milliseconds delay) {
    state_->packetDelayMs = delay.count();
}

void Server::stallAfterRows(std::int64_t n) {
    state_->stallAfterRows = n;
}

void Server::neverAnswer(bool never) {
    state_->neverAnswer = never;
}

std::vector<LoginRecord> Server::logins() const {
    std::lock_guard lock(state_->recordsMutex);
    return state_->logins;
}

std::vector<std::string> Server::batches() const {
    std::lock_guard lock(state_->recordsMutex);
    return state_->batches;
}

std::vector<RpcRecord> Server::rpcs() const {
    std::lock_guard lock(state_->recordsMutex);
    return state_->rpcs;
}

std::size_t Server::attentions() const {
    std::lock_guard lock(state_->recordsMutex);
    return state_->attentions;
}

void Server::clearRecords() {
    std::lock_guard lock(state_->recordsMutex);
    state_->logins.clear();
    state_->batches.clear();
    state_->rpcs.clear();
    state_->attentions = 0;
}

} // namespace tdsserver
