#include "Printers.h"
#include "RecordingRelay.h"
#include "TestServer.h"
#include "db/Login.h"
#include "db/Probe.h"
#include "db/TrustedCertificates.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <tdsserver/certificate.h>
#include <thread>
#include <unistd.h>

namespace {

using db::ServerTrust;
using Encryption = tdsserver::Config::Encryption;

tdsserver::Certificate certificateFor(const std::string& name,
                                      const tdsserver::Certificate* ca = nullptr) {
    tdsserver::CertificateRequest request;
    request.commonName = name;
    request.dnsNames = {name};
    request.issuer = ca;
    return tdsserver::makeCertificate(request);
}

// Every login goes through a relay that keeps what the client sent, as a listener on the
// network would see it. The password is long and unusual, so that it cannot turn up by chance.
class ServerTrustTest : public ServerTest {
protected:
    static constexpr const char* kPassword = "Tallowby-Secret-4711!";

    explicit ServerTrustTest(tdsserver::Config config = {.password = kPassword, .log = {}})
        : ServerTest(std::move(config)) {}

    void SetUp() override {
        ServerTest::SetUp();
        relay.emplace(port);
        untrust();
    }

    db::ConnectionSettings viaRelay() const {
        db::ConnectionSettings settings = login();
        settings.server = QStringLiteral("127.0.0.1,%1").arg(relay->port());
        settings.password = u(kPassword);
        return settings;
    }
    db::ServerAddress relayAddress() const { return db::parseServerAddress(viaRelay().server); }
    void untrust() { db::TrustedCertificates().remove(relayAddress()); }
    void trust(const std::string& pem) {
        db::TrustedCertificates().pin(relayAddress(), derOf(pem));
    }

    bool passwordCrossedTheWire() const { return holdsPassword(relay->clientBytes(), kPassword); }

    // The login is refused before it is sent, for the reason given.
    db::CertificateCheck refusal(ServerTrust expected) {
        try {
            db::logIn(viaRelay(), db::ConnectionStringForm::MixedCase, kShortTimeout);
            ADD_FAILURE() << "the login went through";
        } catch (const db::CertificateError& e) {
            EXPECT_EQ(e.check().trust, expected) << e.message().toStdString();
            EXPECT_TRUE(server.logins().empty());
            EXPECT_FALSE(passwordCrossedTheWire());
            return e.check();
        }
        return {};
    }

    std::optional<RecordingRelay> relay;
};

TEST_F(ServerTrustTest, TrustedCertificateLogsInAndNothingOfThePasswordCrossesInClear) {
    trust(testCertificate().certificatePem);
    sql("CREATE TABLE t (a int); INSERT INTO t VALUES (1);");
    for (auto form : {db::ConnectionStringForm::MixedCase, db::ConnectionStringForm::UpperCase})
        EXPECT_NO_THROW(db::logIn(viaRelay(), form, kShortTimeout).query(u("SELECT * FROM [t]")));
    ASSERT_EQ(server.logins().size(), 2u);
    EXPECT_TRUE(server.logins()[0].encrypted);
    EXPECT_FALSE(passwordCrossedTheWire());
}

// A certificate of any other name, one the user has not trusted, or one of an authority this
// computer does not trust is never sent the login; the reason names what is wrong, and the
// refusal shows the certificate's fingerprint.
TEST_F(ServerTrustTest, UntrustedCertificateIsRefusedBeforeTheLoginWithItsFingerprint) {
    tdsserver::CertificateRequest authority;
    authority.commonName = "Tallowby Test Authority";
    authority.isCa = true;
    const tdsserver::Certificate ca = tdsserver::makeCertificate(authority);
    const tdsserver::Certificate signed_ = certificateFor("127.0.0.1", &ca);
    server.setCertificate(signed_.certificatePem, signed_.privateKeyPem);
    EXPECT_THAT(refusal(ServerTrust::NotTrusted).reasons.join(u'|').toStdString(),
                testing::HasSubstr("an authority this computer does not trust"));

    const tdsserver::Certificate evil = certificateFor("evil.example");
    server.setCertificate(evil.certificatePem, evil.privateKeyPem);
    const db::CertificateCheck check = refusal(ServerTrust::NotTrusted);
    ASSERT_TRUE(check.presented.has_value());
    EXPECT_THAT(check.reasons.join(u'|').toStdString(),
                testing::AllOf(testing::HasSubstr("self-signed"),
                               testing::HasSubstr("another name than \"127.0.0.1\"")));
    EXPECT_THAT(check.presented->subject.toStdString(), testing::HasSubstr("CN=evil.example"));
    EXPECT_EQ(check.presented->der, derOf(evil.certificatePem));
    EXPECT_THAT(check.describe().toStdString(),
                testing::HasSubstr(db::sha256Fingerprint(check.presented->der).toStdString()));

    // Trusting that very certificate for this server lets the login through.
    trust(evil.certificatePem);
    EXPECT_NO_THROW(db::logIn(viaRelay(), db::ConnectionStringForm::MixedCase, kShortTimeout));
    EXPECT_FALSE(passwordCrossedTheWire());
}

TEST_F(ServerTrustTest, ChangedCertificateIsRefusedAndReportedWithBothFingerprints) {
    trust(testCertificate().certificatePem);
    const tdsserver::Certificate other = certificateFor("localhost");
    server.setCertificate(other.certificatePem, other.privateKeyPem);
    const db::CertificateCheck check = refusal(ServerTrust::PinChanged);
    ASSERT_TRUE(check.pinned && check.presented);
    EXPECT_EQ(check.pinned->der, derOf(testCertificate().certificatePem));
    EXPECT_EQ(check.presented->der, derOf(other.certificatePem));
    EXPECT_THAT(
        check.describe().toStdString(),
        testing::AllOf(testing::HasSubstr("changed since it was trusted"),
                       testing::HasSubstr(db::sha256Fingerprint(check.pinned->der).toStdString())));
}

class UnencryptedServerTest : public ServerTrustTest {
protected:
    UnencryptedServerTest()
        : ServerTrustTest({.encryption = Encryption::None, .password = kPassword, .log = {}}) {}
};

// A server without encryption is refused before the login, unless the user allowed it for
// this run; then the password crosses in clear, which shows that the relay would have seen it.
TEST_F(UnencryptedServerTest, IsRefusedUnlessAllowedForTheRun) {
    const db::CertificateCheck check = refusal(ServerTrust::NoEncryption);
    EXPECT_THAT(check.describe().toStdString(), testing::HasSubstr("offers no encryption"));
    db::ConnectionSettings allowed = viaRelay();
    allowed.encryption = db::Encryption::AllowUnencrypted;
    EXPECT_NO_THROW(db::logIn(allowed, db::ConnectionStringForm::UpperCase, kShortTimeout));
    EXPECT_TRUE(passwordCrossedTheWire());
}

} // namespace

namespace {

// SQL Server Browser on 127.0.0.1:1434, as a named instance's host runs it: it answers a
// request for `instance` with the port `port`.
class Browser {
public:
    Browser(const std::string& instance, std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(1434);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ =
            fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (bound_)
            thread_ = std::thread([this, instance, port] { answer(instance, port); });
    }
    ~Browser() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool bound() const { return bound_; }

private:
    void answer(const std::string& instance, std::uint16_t port) {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char request[512];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(fd_, request, sizeof request, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 2 || request[0] != '\x04' ||
                std::string(request + 1, std::size_t(n - 1)).find(instance) != 0)
                continue;
            const std::string text = "ServerName;LOCAL;InstanceName;" + instance +
                                     ";IsClustered;No;Version;16.0.1000.6;tcp;" +
                                     std::to_string(port) + ";;";
            std::string reply = "\x05";
            reply.push_back(char(text.size() & 0xFF));
            reply.push_back(char(text.size() >> 8));
            reply += text;
            ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     length);
        }
    }

    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// "host\instance": the driver and the certificate check both ask the host's Browser for the
// instance's port; the certificate is trusted for the instance, not for a port.
TEST_F(ServerTrustTest, NamedInstanceIsFoundThroughTheBrowserAndItsCertificateChecked) {
    Browser browser("TALLOWBY", port);
    if (!browser.bound())
        GTEST_SKIP() << "127.0.0.1:1434 is taken";
    db::ConnectionSettings named = login();
    named.server = u("127.0.0.1\\TALLOWBY");
    named.password = u(kPassword);
    const db::ServerAddress address = db::parseServerAddress(named.server);
    db::TrustedCertificates().remove(address);
    const db::CertificateCheck check = db::checkServerCertificate(named.server, kShortTimeout);
    EXPECT_EQ(check.trust, ServerTrust::NotTrusted) << check.describe().toStdString();
    ASSERT_TRUE(check.presented.has_value()) << check.failure.toStdString();
    EXPECT_EQ(check.presented->der, derOf(certificatePem));

    db::TrustedCertificates().pin(address, check.presented->der);
    EXPECT_NO_THROW(db::logIn(named, db::ConnectionStringForm::MixedCase, kShortTimeout));
    ASSERT_FALSE(server.logins().empty());
    EXPECT_TRUE(server.logins().back().encrypted);
    db::TrustedCertificates().remove(address);
}

} // namespace
