#pragma once

// A relay between a client and the test server that keeps a copy of what passes, to show what a
// listener on the network would see: whether a password or a query crosses it in clear.

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// A connection string naming the server on 127.0.0.1 directly, so that the driver reads no
// configuration file and does as the ENCRYPTION key alone says (without checking any
// certificate): for the tests of the server's own side of each setting.
QString directConnectionString(std::uint16_t port, const QString& database, const QString& user,
                               const QString& password, const char* encryption = "request");

// Text as UTF-16LE, the encoding of every string in a login.
std::string utf16le(std::string_view ascii);

// Whether `bytes` hold `password` in a form a listener could read it in: as LOGIN7 carries it
// (UTF-16LE, each byte's halves swapped, then XOR 0xA5), or as plain UTF-16LE.
bool holdsPassword(const std::string& bytes, std::string_view password);

class RecordingRelay {
public:
    // Listens on 127.0.0.1 (a free port) and forwards each connection it accepts to
    // 127.0.0.1:serverPort, both ways, until either side closes it or the relay goes. Throws
    // std::runtime_error when it cannot listen.
    explicit RecordingRelay(std::uint16_t serverPort);
    // Closes every connection and joins every thread.
    ~RecordingRelay();
    RecordingRelay(const RecordingRelay&) = delete;
    RecordingRelay& operator=(const RecordingRelay&) = delete;

    std::uint16_t port() const { return port_; }

    // Every byte clients sent, and every byte the server sent back, over all connections so
    // far, each direction in the order it passed.
    std::string clientBytes() const;
    std::string serverBytes() const;

private:
    void acceptLoop();
    void pump(int client);
    void record(bool fromClient, const char* data, std::size_t size);

    const std::uint16_t serverPort_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex threadsMutex_;
    std::list<std::thread> pumps_;

    mutable std::mutex recordMutex_;
    std::string clientBytes_;
    std::string serverBytes_;
};
