// The server at the packet level, with a hand-made client: what FreeTDS never sends (broken
// records, odd packet splits) must not bring the server down or corrupt its answers.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <tdsserver/server.h>
#include <unistd.h>
#include <vector>

namespace {

struct Packet {
    std::uint8_t type = 0;
    std::uint8_t status = 0;
    std::string payload;
};

class RawClient {
public:
    explicit RawClient(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    // True once a read found the connection closed by the server (not merely silent).
    bool closedByServer() const { return eof_; }

    void sendRaw(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Sends payload as one message of `type`, in packets of at most `chunk` payload bytes.
    void sendMessage(std::uint8_t type, const std::string& payload, std::size_t chunk = 4088) {
        std::size_t at = 0;
        do {
            const std::string part = payload.substr(at, chunk);
            at += part.size();
            sendRaw(header(type, at >= payload.size() ? 1 : 0, part.size() + 8) + part);
        } while (at < payload.size());
    }

    static std::string header(std::uint8_t type, std::uint8_t status, std::size_t length) {
        return {static_cast<char>(type),
                static_cast<char>(status),
                static_cast<char>(length >> 8),
                static_cast<char>(length & 0xFF),
                0,
                0,
                1,
                0};
    }

    // The next packet, or nullopt when the server closed the connection (or said nothing).
    std::optional<Packet> readPacket() {
        std::string h;
        if (!readExactly(8, h))
            return std::nullopt;
        const std::size_t length =
            (static_cast<unsigned char>(h[2]) << 8) | static_cast<unsigned char>(h[3]);
        Packet p{static_cast<std::uint8_t>(h[0]), static_cast<std::uint8_t>(h[1]), {}};
        if (length < 8 || !readExactly(length - 8, p.payload))
            return std::nullopt;
        return p;
    }

    // The packets of the next reply message.
    std::vector<Packet> readMessage() {
        std::vector<Packet> packets;
        while (auto p = readPacket()) {
            packets.push_back(*p);
            if (p->status & 1)
                break;
        }
        return packets;
    }

private:
    bool readExactly(std::size_t n, std::string& out) {
        out.clear();
        char buf[4096];
        while (out.size() < n) {
            const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got == 0)
                eof_ = true;
            if (got <= 0)
                return false;
            out.append(buf, static_cast<std::size_t>(got));
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
};

std::string utf16(const std::string& ascii) {
    std::string out;
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

void putLE(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A LOGIN7 record as FreeTDS builds it, with the given packet size.
std::string login7(const std::string& user, const std::string& password,
                   const std::string& database, std::uint32_t packetSize) {
    std::string fixed(94, '\0');
    std::string data;
    const auto field = [&](std::size_t at, const std::string& value, bool scramble) {
        std::string bytes = utf16(value);
        if (scramble) {
            for (char& c : bytes) {
                const auto b = static_cast<unsigned char>(c);
                c = static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
            }
        }
        putLE(fixed, at, static_cast<std::uint32_t>(94 + data.size()), 2);
        putLE(fixed, at + 2, static_cast<std::uint32_t>(value.size()), 2);
        data += bytes;
    };
    putLE(fixed, 4, 0x74000004, 4);
    putLE(fixed, 8, packetSize, 4);
    field(36, "host", false);
    field(40, user, false);
    field(44, password, true);
    field(48, "raw", false);
    field(68, database, false);
    putLE(fixed, 0, static_cast<std::uint32_t>(94 + data.size()), 4);
    return fixed + data;
}

std::string batch(const std::string& sql) {
    // ALL_HEADERS with one transaction descriptor header, as TDS 7.2 and later require.
    std::string headers(22, '\0');
    putLE(headers, 0, 22, 4);
    putLE(headers, 4, 18, 4);
    putLE(headers, 8, 2, 2);
    putLE(headers, 18, 1, 4);
    return headers + utf16(sql);
}

std::string joined(const std::vector<Packet>& packets) {
    std::string out;
    for (const auto& p : packets)
        out += p.payload;
    return out;
}

class WireTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.addDatabase("db", ":memory:");
        server.execSql("db", R"(
            CREATE TABLE t(id int, label nvarchar(50));
            WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)
            INSERT INTO t SELECT i, 'label ' || i FROM n;
        )");
        port = server.start();
    }

    // Logs in and checks that the reply ends with a DONE without the error bit.
    void login(RawClient& c, std::uint32_t packetSize = 4096) {
        c.sendMessage(0x10, login7("demo", "demo", "db", packetSize));
        const std::string reply = joined(c.readMessage());
        ASSERT_GE(reply.size(), 13u);
        const std::string done = reply.substr(reply.size() - 13);
        EXPECT_EQ(static_cast<unsigned char>(done[0]), 0xFD);
        EXPECT_EQ(done[1] & 0x02, 0) << "login refused";
    }

    tdsserver::Server server;
    std::uint16_t port = 0;
};

} // namespace

TEST_F(WireTest, PreLoginAnswerSaysEncryptionIsNotSupported) {
    RawClient c(port);
    c.sendMessage(0x12, std::string("\x01\x00\x06\x00\x01\xFF\x00", 7));
    const auto reply = c.readMessage();
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].type, 0x04);
    const std::string& p = reply[0].payload;
    // Walk the option table to ENCRYPTION (token 1).
    std::optional<unsigned char> encryption;
    for (std::size_t i = 0; i + 4 < p.size() && static_cast<unsigned char>(p[i]) != 0xFF; i += 5) {
        const std::size_t offset =
            (static_cast<unsigned char>(p[i + 1]) << 8) | static_cast<unsigned char>(p[i + 2]);
        if (p[i] == 1 && offset < p.size())
            encryption = static_cast<unsigned char>(p[offset]);
    }
    EXPECT_EQ(encryption, 0x02);
}

TEST_F(WireTest, RepliesAreSplitIntoPacketsOfTheNegotiatedSize) {
    RawClient c(port);
    login(c, 512);
    c.sendMessage(0x01, batch("SELECT * FROM t"));
    const auto reply = c.readMessage();
    ASSERT_GT(reply.size(), 10u);
    for (std::size_t i = 0; i < reply.size(); ++i) {
        EXPECT_LE(reply[i].payload.size() + 8, 512u) << "packet " << i;
        EXPECT_FALSE(reply[i].payload.empty());
        EXPECT_EQ(reply[i].status & 1, i + 1 == reply.size() ? 1 : 0) << "packet " << i;
    }
    // Final DONE: count valid, SELECT, 2000 rows.
    const std::string all = joined(reply);
    EXPECT_EQ(all.substr(all.size() - 13),
              std::string("\xFD\x10\x00\xC1\x00\xD0\x07\x00\x00\x00\x00\x00\x00", 13));
}

TEST_F(WireTest, RequestSplitOverManyPacketsIsReassembled) {
    RawClient c(port);
    login(c);
    c.sendMessage(0x01, batch("SELECT * FROM t -- " + std::string(3000, 'x')), 100);
    const std::string all = joined(c.readMessage());
    ASSERT_GE(all.size(), 13u);
    EXPECT_EQ(all.substr(all.size() - 13, 2), std::string("\xFD\x10", 2));
    EXPECT_EQ(server.batches().back().size(), 19u + 3000u);
}

TEST_F(WireTest, AttentionWhileIdleIsAcknowledged) {
    RawClient c(port);
    login(c);
    c.sendMessage(0x06, "");
    EXPECT_EQ(joined(c.readMessage()), std::string("\xFD\x20\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                                                   "\x00\x00",
                                                   13));
    EXPECT_EQ(server.attentions(), 1u);
}

TEST_F(WireTest, BrokenInputClosesThatConnectionAndTheServerGoesOn) {
    std::string outside = login7("demo", "demo", "db", 4096);
    putLE(outside, 40, 0xFFF0, 2); // user name offset beyond the record
    std::string tooShort = login7("demo", "demo", "db", 4096).substr(0, 40);
    std::string badAllHeaders = batch("SELECT * FROM t");
    putLE(badAllHeaders, 0, 0x7FFFFFFF, 4);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"login field outside the record",
         RawClient::header(0x10, 1, 8 + outside.size()) + outside},
        {"login record too short", RawClient::header(0x10, 1, 8 + tooShort.size()) + tooShort},
        {"packet length below its header", RawClient::header(0x10, 1, 4) + "abcd"},
        {"request before the login", RawClient::header(0x01, 1, 8 + 4) + "abcd"},
    };
    for (const auto& [what, bytes] : cases) {
        RawClient c(port);
        c.sendRaw(bytes);
        EXPECT_FALSE(c.readPacket().has_value()) << what;
        EXPECT_TRUE(c.closedByServer()) << what << ": the connection stayed open";
    }
    {
        RawClient c(port);
        login(c);
        c.sendMessage(0x01, badAllHeaders);
        EXPECT_FALSE(c.readPacket().has_value()) << "bad ALL_HEADERS";
        EXPECT_TRUE(c.closedByServer()) << "bad ALL_HEADERS: the connection stayed open";
    }
    RawClient good(port);
    login(good);
    good.sendMessage(0x01, batch("SELECT * FROM t"));
    EXPECT_GT(joined(good.readMessage()).size(), 2000u);
}
