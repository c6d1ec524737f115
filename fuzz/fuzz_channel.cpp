// The test server's packet reader on any bytes from a client: it must never crash, and it must
// come to an end (a message, the end of input, or ConnectionLost) with the input closed.
#include "channel.h"

#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        std::abort();
    }
    // Inputs stay far below the socket's buffer, so the whole of it is there before reading.
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::write(fds[1], data + sent, size - sent);
        if (n <= 0) {
            std::abort();
        }
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);
    {
        tdsserver::Channel channel(fds[0], 51);
        try {
            // Each message takes at least one header's bytes, so this ends within size / 8 + 1
            // rounds unless the reader loops on its own.
            for (std::size_t round = 0; round <= size / 8 + 1; ++round) {
                if (channel.attentionArrived()) {
                    continue;
                }
                if (!channel.readMessage()) {
                    break;
                }
            }
        } catch (const tdsserver::ConnectionLost&) {
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
