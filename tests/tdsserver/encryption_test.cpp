// The test server's TLS, through FreeTDS's ODBC driver and a relay that records what crosses the
// network: which server setting lets which client setting in, whether the login and the queries
// are hidden, and which certificate a connection is shown.

#include "RecordingRelay.h"
#include "db/Connection.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <tdsserver/server.h>
#include <unistd.h>

namespace {

using Encryption = tdsserver::Config::Encryption;

constexpr char kPassword[] = "Tr0ub4dor&3";
constexpr char kTable[] = "LedgerOfSecrets";

QString connectionString(std::uint16_t port, const char* encryption) {
    return directConnectionString(port, QStringLiteral("shop"), QStringLiteral("demo"),
                                  QString::fromLatin1(kPassword), encryption);
}

std::unique_ptr<tdsserver::Server> startServer(Encryption encryption) {
    tdsserver::Config config;
    config.encryption = encryption;
    config.password = kPassword;
    auto server = std::make_unique<tdsserver::Server>(config);
    server->addDatabase("shop", ":memory:");
    server->execSql("shop", std::string("CREATE TABLE ") + kTable +
                                " (N INTEGER);"
                                "INSERT INTO " +
                                kTable + " VALUES (7);");
    server->start();
    return server;
}

// FreeTDS's settings say in PRELOGIN: off "cannot encrypt", request "encryption off", require
// "encryption on". What each server setting makes of them, where the logins through the
// program's own layer do not show it already (no encryption against each, and encryption
// required against off and require, are the demo server's and the certificate checks' tests):
struct Case {
    Encryption server;
    const char* client;
    bool logsIn;
    bool loginHidden;   // the LOGIN7 went inside TLS
    bool queriesHidden; // and everything after it
};

const char* name(Encryption e) {
    const char* names[] = {"None", "Off", "On", "Required"};
    return names[static_cast<int>(e)];
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return std::string(name(info.param.server)) + "_" + info.param.client;
}

class EncryptionMatrix : public testing::TestWithParam<Case> {};

TEST_P(EncryptionMatrix, LogsInOrIsTurnedAwayAndHidesWhatTlsCovers) {
    const Case c = GetParam();
    auto server = startServer(c.server);
    std::string sent;
    {
        RecordingRelay relay(server->port());
        if (c.logsIn) {
            db::Connection connection = db::Connection::open(
                connectionString(relay.port(), c.client), std::chrono::seconds(5));
            db::ResultSet rows =
                connection.query(QStringLiteral("SELECT * FROM [%1]").arg(QLatin1String(kTable)));
            ASSERT_TRUE(rows.next());
            EXPECT_EQ(rows.text(0).value_or(QString()), QStringLiteral("7"));
        } else {
            EXPECT_ANY_THROW(db::Connection::open(connectionString(relay.port(), c.client),
                                                  std::chrono::seconds(5)));
        }
        sent = relay.clientBytes();
    }
    const std::vector<tdsserver::LoginRecord> logins = server->logins();
    if (!c.logsIn) {
        EXPECT_TRUE(logins.empty());
    } else {
        ASSERT_EQ(logins.size(), 1u);
        EXPECT_TRUE(logins[0].accepted);
        EXPECT_EQ(logins[0].password, kPassword);
        EXPECT_EQ(logins[0].encrypted, c.loginHidden);
    }
    // The relay saw the client's bytes at all: the PRELOGIN is always in clear.
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(static_cast<unsigned char>(sent[0]), 0x12);
    const bool passwordVisible = holdsPassword(sent, kPassword);
    EXPECT_EQ(passwordVisible, c.logsIn && !c.loginHidden);
    if (c.logsIn) {
        EXPECT_EQ(sent.find(utf16le(kTable)) != std::string::npos, !c.queriesHidden);
    }
}

INSTANTIATE_TEST_SUITE_P(EachServerSettingAgainstEachClientSetting, EncryptionMatrix,
                         testing::Values(Case{Encryption::Off, "off", true, false, false},
                                         Case{Encryption::Off, "request", true, true, false},
                                         Case{Encryption::Off, "require", true, true, true},
                                         Case{Encryption::On, "off", false, false, false},
                                         Case{Encryption::On, "request", true, true, true},
                                         Case{Encryption::On, "require", true, true, true},
                                         Case{Encryption::Required, "request", true, true, true}),
                         caseName);

// A client at the packet level, for what FreeTDS never sends. Every wait is bounded.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }

    void send(std::uint8_t type, const std::string& payload) {
        const std::size_t length = payload.size() + 8;
        std::string packet("\0\x01\0\0\0\0\x01\0", 8);
        packet[0] = static_cast<char>(type);
        packet[2] = static_cast<char>(length >> 8);
        packet[3] = static_cast<char>(length & 0xFF);
        packet += payload;
        ASSERT_EQ(::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(packet.size()));
    }

    // The payload of the server's next packet; nullopt when the server closed the connection
    // or sent nothing within the wait.
    std::optional<std::string> receive(std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        std::string header;
        if (!read(header, 8, wait) || header.size() < 8)
            return std::nullopt;
        const std::size_t length = (std::size_t{static_cast<unsigned char>(header[2])} << 8) |
                                   static_cast<unsigned char>(header[3]);
        std::string payload;
        if (length < 8 || !read(payload, length - 8, wait) || payload.size() < length - 8)
            return std::nullopt;
        return payload;
    }

    // True when the server closes the connection within the wait, whatever it sends first.
    bool closedByServer(std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        std::string ignored;
        return !read(ignored, SIZE_MAX, wait);
    }

private:
    // Reads into `out` until it holds `size` bytes or the wait is over; false when the server
    // closed the connection first.
    bool read(std::string& out, std::size_t size, std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        char buf[4096];
        while (out.size() < size && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, size - out.size()), 0);
            if (n <= 0)
                return false;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }

    int fd_;
    bool connected_ = false;
};

// A PRELOGIN with a version (six bytes) and, unless nullopt, an ENCRYPTION value (one byte
// after it): the option table, its end, then the data.
std::string preLogin(std::optional<std::uint8_t> encryption) {
    if (!encryption)
        return std::string("\x00\x00\x06\x00\x06\xFF\x0B\x00\x00\x00\x00\x00", 12);
    return std::string("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF\x0B\x00\x00\x00\x00\x00", 17) +
           static_cast<char>(*encryption);
}

// The ENCRYPTION value of the server's PRELOGIN answer; -1 when it has none.
int encryptionOf(const std::string& answer) {
    for (std::size_t at = 0; at + 5 <= answer.size() && answer[at] != '\xFF'; at += 5) {
        const std::size_t offset = (std::size_t{static_cast<unsigned char>(answer[at + 1])} << 8) |
                                   static_cast<unsigned char>(answer[at + 2]);
        if (answer[at] == 0x01 && offset < answer.size())
            return static_cast<unsigned char>(answer[offset]);
    }
    return -1;
}

struct RawCase {
    Encryption server;
    std::optional<std::uint8_t> client;
    int answer;
    bool ended;
};

void PrintTo(const RawCase& c, std::ostream* os) {
    *os << name(c.server) << " against " << (c.client ? std::to_string(*c.client) : "nothing");
}

class PreLoginAnswer : public testing::TestWithParam<RawCase> {};

// Client values FreeTDS never sends: "required", a certificate login, none at all.
TEST_P(PreLoginAnswer, FollowsTheServersSetting) {
    const RawCase c = GetParam();
    auto server = startServer(c.server);
    RawClient client(server->port());
    ASSERT_TRUE(client.connected());
    client.send(0x12, preLogin(c.client));
    const std::optional<std::string> answer = client.receive();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(encryptionOf(*answer), c.answer);
    EXPECT_EQ(
        client.closedByServer(c.ended ? std::chrono::seconds(5) : std::chrono::milliseconds(300)),
        c.ended);
}

INSTANTIATE_TEST_SUITE_P(UnusualClients, PreLoginAnswer,
                         testing::Values(RawCase{Encryption::None, 3, 2, true},
                                         RawCase{Encryption::Off, 3, 1, false},
                                         RawCase{Encryption::Required, 3, 1, false},
                                         RawCase{Encryption::Off, 0x81, 3, true},
                                         RawCase{Encryption::None, std::nullopt, 2, false},
                                         RawCase{Encryption::Required, std::nullopt, 3, true}));

// Once TLS is agreed, or due because encryption is on, a login sent in clear is not taken: the
// connection ends and nothing is recorded, whether or not a PRELOGIN came first. The same login
// to a server without TLS is read, which shows that it is a valid one.
TEST(PreLogin, ALoginInClearWhereTlsIsDueEndsTheConnection) {
    const std::string emptyLogin(94, '\0'); // a LOGIN7 whose every field is empty
    for (const bool preLoginFirst : {true, false}) {
        for (const Encryption setting : {Encryption::None, Encryption::Required}) {
            SCOPED_TRACE(std::string(setting == Encryption::None ? "None" : "Required") +
                         (preLoginFirst ? " after a PRELOGIN" : " without a PRELOGIN"));
            auto server = startServer(setting);
            RawClient client(server->port());
            ASSERT_TRUE(client.connected());
            if (preLoginFirst) {
                client.send(0x12, preLogin(0x00));
                ASSERT_TRUE(client.receive().has_value());
            }
            client.send(0x10, emptyLogin);
            if (setting == Encryption::None) {
                EXPECT_TRUE(client.receive().has_value()); // the answer: login failed
                EXPECT_EQ(server->logins().size(), 1u);
            } else {
                EXPECT_TRUE(client.closedByServer());
                EXPECT_TRUE(server->logins().empty());
            }
        }
    }
}

} // namespace
