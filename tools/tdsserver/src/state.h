#pragma once

// What the Server object shares with its connection threads.

#include "databases.h"
#include "tdsserver/server.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace tdsserver {

class TlsContext;

struct Server::State {
    explicit State(Config c) : config(std::move(c)) {}

    void log(std::string_view line) const {
        if (config.log)
            config.log(line);
    }

    const Config config;
    Databases databases;

    std::atomic<bool> refuseLogins{false};
    std::atomic<bool> holdTextSize{false};
    std::atomic<bool> neverAnswer{false};
    std::atomic<std::int64_t> dropAfterRows{-1};
    std::atomic<std::int64_t> stallAfterRows{-1};
    std::atomic<std::int64_t> firstRowDelayMs{0};
    std::atomic<std::int64_t> loginDelayMs{0};
    std::atomic<std::int64_t> packetDelayMs{0};
    std::atomic<bool> stopping{false};

    // The certificate new connections present; null while encryption is None.
    mutable std::mutex tlsMutex;
    std::shared_ptr<const TlsContext> tls;
    std::shared_ptr<const TlsContext> currentTls() const {
        std::lock_guard lock(tlsMutex);
        return tls;
    }

    mutable std::mutex recordsMutex;
    std::vector<LoginRecord> logins;
    std::vector<std::string> batches;
    std::vector<RpcRecord> rpcs;
    std::size_t attentions = 0;

    // Listener and connections; lifecycleMutex serialises start and stop.
    std::mutex lifecycleMutex;
    int listenFd = -1;
    int wakeFds[2] = {-1, -1};
    std::thread acceptThread;
    std::atomic<std::uint16_t> port{0};

    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    std::mutex connectionsMutex;
    std::list<std::unique_ptr<Connection>> connections;
};

// Serves one accepted connection until the client leaves or the server stops; `tls` is the
// certificate it presents (null: none).
void runSession(const std::shared_ptr<Server::State>& state, int fd, std::uint16_t spid,
                bool neverAnswer, std::shared_ptr<const TlsContext> tls);

} // namespace tdsserver
