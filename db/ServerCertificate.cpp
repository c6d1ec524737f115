#include "db/ServerCertificate.h"

#include "db/Error.h"
#include "db/TrustedCertificates.h"

#include <QLocale>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <memory>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace db {

namespace {

constexpr std::uint8_t kPreLogin = 0x12;
constexpr std::uint8_t kEndOfMessage = 0x01;
constexpr std::size_t kHeader = 8;
constexpr std::size_t kPacket = 4096;
// The client's word in the first message: it would like encryption. A server that can encrypt
// answers that it will; one that cannot says "not supported".
constexpr char kEncryptOn = 0x01;
constexpr unsigned char kEncryptNotSupported = 0x02;
constexpr int kBrowserPort = 1434;

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

[[noreturn]] void fail(const QString& why) {
    throw Failure(why.toStdString());
}

struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
};

void limitWaits(int fd, std::chrono::seconds timeout) {
    timeval tv{};
    tv.tv_sec = std::max<long>(1, static_cast<long>(timeout.count()));
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

AddressList resolve(const QString& host, int port, int type) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    addrinfo* found = nullptr;
    const int rc =
        ::getaddrinfo(host.toUtf8().constData(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0)
        fail(QStringLiteral("the host \"%1\" cannot be found (%2)")
                 .arg(host, QString::fromLocal8Bit(::gai_strerror(rc))));
    return AddressList(found, &::freeaddrinfo);
}

// The port of a named instance, from the SQL Server Browser service on the host.
int instancePort(const ServerAddress& server, std::chrono::seconds timeout) {
    const AddressList addresses = resolve(server.host, kBrowserPort, SOCK_DGRAM);
    const QByteArray request = '\x04' + server.instance.toLatin1() + '\0';
    for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        Socket s{::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol)};
        if (s.fd < 0)
            continue;
        limitWaits(s.fd, timeout);
        if (::sendto(s.fd, request.constData(), size_t(request.size()), 0, a->ai_addr,
                     a->ai_addrlen) < 0)
            continue;
        std::array<char, 4096> answer{};
        const ssize_t n = ::recv(s.fd, answer.data(), answer.size(), 0);
        if (n <= 3 || answer[0] != '\x05')
            continue;
        const QStringList fields =
            QString::fromLatin1(answer.data() + 3, qsizetype(n - 3)).split(u';');
        const qsizetype tcp = fields.indexOf(QStringLiteral("tcp"));
        if (tcp >= 0 && tcp + 1 < fields.size()) {
            const int port = fields[tcp + 1].toInt();
            if (port > 0 && port < 65536)
                return port;
        }
    }
    fail(QStringLiteral("the SQL Server Browser on \"%1\" did not tell the port of the instance "
                        "\"%2\"")
             .arg(server.host, server.instance));
}

void connectWithin(Socket& s, const ServerAddress& server, int port, std::chrono::seconds timeout) {
    const AddressList addresses = resolve(server.host, port, SOCK_STREAM);
    QString reason;
    for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        Socket attempt{
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol)};
        if (attempt.fd < 0)
            continue;
        if (::connect(attempt.fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            reason = systemReason();
            continue;
        }
        pollfd p{attempt.fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(std::chrono::milliseconds(timeout).count()));
        int error = 0;
        socklen_t length = sizeof error;
        if (ready <= 0) {
            reason = QStringLiteral("no answer within %1 s").arg(timeout.count());
            continue;
        }
        ::getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            reason = QString::fromLocal8Bit(std::strerror(error));
            continue;
        }
        const int flags = ::fcntl(attempt.fd, F_GETFL);
        ::fcntl(attempt.fd, F_SETFL, flags & ~O_NONBLOCK);
        limitWaits(attempt.fd, timeout);
        std::swap(s.fd, attempt.fd);
        return;
    }
    fail(QStringLiteral("%1 port %2 cannot be reached: %3").arg(server.host).arg(port).arg(reason));
}

// The protocol's packets around the TLS records: a PRELOGIN packet for each piece the client
// sends; the server's packets are stripped of their headers.
struct Transport {
    int fd = -1;
    std::uint8_t packetId = 1;
    std::string out;
    std::string in;
    std::size_t inAt = 0;
    bool serverEnded = false;

    bool sendAll(const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= std::size_t(n);
        }
        return true;
    }

    bool sendMessage(std::uint8_t type, std::string_view payload) {
        do {
            const std::size_t size = std::min(payload.size(), kPacket - kHeader);
            const bool last = size == payload.size();
            const std::size_t length = size + kHeader;
            const std::array<char, kHeader> header{char(type),
                                                   char(last ? kEndOfMessage : 0),
                                                   char(length >> 8),
                                                   char(length & 0xFF),
                                                   0,
                                                   0,
                                                   char(packetId++),
                                                   0};
            if (!sendAll(header.data(), header.size()) || !sendAll(payload.data(), size))
                return false;
            payload.remove_prefix(size);
        } while (!payload.empty());
        return true;
    }

    bool receiveAll(char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::recv(fd, data, size, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                serverEnded = n == 0;
                return false;
            }
            data += n;
            size -= std::size_t(n);
        }
        return true;
    }

    // The next packet's payload, appended to `in`; false when none came.
    bool receivePacket(bool* last = nullptr) {
        std::array<char, kHeader> header{};
        if (!receiveAll(header.data(), header.size()))
            return false;
        const std::size_t length =
            (std::size_t(std::uint8_t(header[2])) << 8) | std::uint8_t(header[3]);
        if (length < kHeader)
            return false;
        const std::size_t at = in.size();
        in.resize(at + length - kHeader);
        if (!receiveAll(in.data() + at, length - kHeader))
            return false;
        if (last != nullptr)
            *last = (std::uint8_t(header[1]) & kEndOfMessage) != 0;
        return true;
    }

    bool flush() {
        if (out.empty())
            return true;
        const bool sent = sendMessage(kPreLogin, out);
        out.clear();
        return sent;
    }
};

ssize_t push(gnutls_transport_ptr_t ptr, const void* data, size_t size) {
    auto* t = static_cast<Transport*>(ptr);
    t->out.append(static_cast<const char*>(data), size);
    return ssize_t(size);
}

ssize_t pull(gnutls_transport_ptr_t ptr, void* data, size_t size) {
    auto* t = static_cast<Transport*>(ptr);
    if (!t->flush()) {
        errno = EIO;
        return -1;
    }
    while (t->inAt == t->in.size()) {
        t->in.clear();
        t->inAt = 0;
        if (!t->receivePacket()) {
            if (t->serverEnded)
                return 0;
            errno = EIO;
            return -1;
        }
    }
    const std::size_t n = std::min(size, t->in.size() - t->inAt);
    std::memcpy(data, t->in.data() + t->inAt, n);
    t->inAt += n;
    return ssize_t(n);
}

int pullTimeout(gnutls_transport_ptr_t, unsigned int) {
    return 1; // the socket's own limit bounds every read
}

QByteArray preLogin(const ServerAddress& server) {
    // Option table (token, offset, length, both big-endian), 0xFF, then the options' data.
    const QByteArray instance = server.instance.toLatin1() + '\0';
    const std::array<QByteArray, 5> data = {
        QByteArray("\x10\x00\x00\x00\x00\x00", 6), // version
        QByteArray(1, kEncryptOn),
        instance,
        QByteArray(4, '\0'), // thread id
        QByteArray(1, '\0'), // no MARS
    };
    QByteArray table;
    QByteArray body;
    const int start = int(data.size()) * 5 + 1;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const int offset = start + int(body.size());
        table += char(i);
        table += char(offset >> 8);
        table += char(offset & 0xFF);
        table += char(data[i].size() >> 8);
        table += char(data[i].size() & 0xFF);
        body += data[i];
    }
    return table + '\xFF' + body;
}

// The encryption byte of the server's answer to PRELOGIN.
unsigned char encryptionAnswer(const std::string& payload) {
    for (std::size_t at = 0; at + 5 <= payload.size() && std::uint8_t(payload[at]) != 0xFF;
         at += 5) {
        if (payload[at] != 0x01)
            continue;
        const std::size_t offset =
            (std::size_t(std::uint8_t(payload[at + 1])) << 8) | std::uint8_t(payload[at + 2]);
        if (offset < payload.size())
            return std::uint8_t(payload[offset]);
    }
    fail(QStringLiteral("the server's first answer is not one that SQL Server sends"));
}

QDateTime fromTime(time_t t) {
    return QDateTime::fromSecsSinceEpoch(qint64(t), Qt::UTC);
}

QString distinguishedName(gnutls_x509_crt_t crt, bool issuer) {
    gnutls_datum_t text{};
    const int rc = issuer ? gnutls_x509_crt_get_issuer_dn3(crt, &text, 0)
                          : gnutls_x509_crt_get_dn3(crt, &text, 0);
    if (rc < 0)
        return QString();
    QString name = QString::fromUtf8(reinterpret_cast<const char*>(text.data), int(text.size));
    gnutls_free(text.data);
    return name;
}

CertificateDetails details(const gnutls_datum_t& der) {
    gnutls_x509_crt_t crt = nullptr;
    gnutls_x509_crt_init(&crt);
    std::unique_ptr<gnutls_x509_crt_int, decltype(&gnutls_x509_crt_deinit)> owner(
        crt, &gnutls_x509_crt_deinit);
    CertificateDetails d;
    d.der = QByteArray(reinterpret_cast<const char*>(der.data), int(der.size));
    if (gnutls_x509_crt_import(crt, &der, GNUTLS_X509_FMT_DER) < 0)
        return d;
    d.subject = distinguishedName(crt, false);
    d.issuer = distinguishedName(crt, true);
    d.notBefore = fromTime(gnutls_x509_crt_get_activation_time(crt));
    d.notAfter = fromTime(gnutls_x509_crt_get_expiration_time(crt));
    return d;
}

QString day(const QDateTime& t) {
    return t.toString(Qt::ISODate);
}

QStringList reasonsFor(unsigned status, const CertificateDetails& c, const QString& host) {
    QStringList reasons;
    if (status & GNUTLS_CERT_SIGNER_NOT_FOUND) {
        reasons << (c.subject == c.issuer
                        ? QStringLiteral("it is self-signed: no authority this computer trusts "
                                         "vouches for it")
                        : QStringLiteral("it was issued by \"%1\", an authority this computer "
                                         "does not trust")
                              .arg(c.issuer));
    }
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER)
        reasons << QStringLiteral("it was issued for another name than \"%1\"").arg(host);
    if (status & GNUTLS_CERT_EXPIRED)
        reasons << QStringLiteral("it expired on %1").arg(day(c.notAfter));
    if (status & GNUTLS_CERT_NOT_ACTIVATED)
        reasons << QStringLiteral("it is not valid before %1").arg(day(c.notBefore));
    if (status & GNUTLS_CERT_REVOKED)
        reasons << QStringLiteral("it has been revoked");
    if (status & GNUTLS_CERT_INSECURE_ALGORITHM)
        reasons << QStringLiteral("it is signed with an algorithm that is no longer safe");
    if (status & GNUTLS_CERT_SIGNATURE_FAILURE)
        reasons << QStringLiteral("its signature does not match its contents");
    if (reasons.isEmpty()) {
        gnutls_datum_t text{};
        if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0) == 0) {
            reasons << QString::fromUtf8(reinterpret_cast<const char*>(text.data), int(text.size));
            gnutls_free(text.data);
        }
    }
    return reasons;
}

struct Tls {
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_session_t session = nullptr;
    ~Tls() {
        if (session != nullptr)
            gnutls_deinit(session);
        if (credentials != nullptr)
            gnutls_certificate_free_credentials(credentials);
    }
};

void check(int rc, const char* what) {
    if (rc < 0)
        fail(QStringLiteral("%1: %2").arg(QLatin1String(what),
                                          QString::fromUtf8(gnutls_strerror(rc))));
}

void inspect(CertificateCheck& result, const ServerAddress& server, std::chrono::seconds timeout) {
    const int port = server.port != 0             ? server.port
                     : !server.instance.isEmpty() ? instancePort(server, timeout)
                                                  : kDefaultPort;
    Socket socket;
    connectWithin(socket, server, port, timeout);
    Transport transport;
    transport.fd = socket.fd;
    const QByteArray hello = preLogin(server);
    if (!transport.sendMessage(kPreLogin,
                               std::string_view(hello.constData(), size_t(hello.size()))))
        fail(QStringLiteral("the server closed the connection"));
    bool last = false;
    while (!last) {
        if (!transport.receivePacket(&last))
            fail(QStringLiteral("the server did not answer the first message"));
    }
    if (encryptionAnswer(transport.in) == kEncryptNotSupported) {
        result.trust = ServerTrust::NoEncryption;
        return;
    }
    transport.in.clear();
    transport.packetId = 1;

    // From here on the server has answered: what fails is the encrypted session.
    result.trust = ServerTrust::TlsFailed;
    Tls tls;
    check(gnutls_certificate_allocate_credentials(&tls.credentials), "preparing TLS");
    // No authority at all is not a failure: every certificate then needs the user's trust.
    gnutls_certificate_set_x509_system_trust(tls.credentials);
    check(gnutls_init(&tls.session, GNUTLS_CLIENT), "preparing TLS");
    check(gnutls_priority_set_direct(tls.session, "NORMAL:%COMPAT:-VERS-SSL3.0:-VERS-TLS1.0",
                                     nullptr),
          "preparing TLS");
    check(gnutls_credentials_set(tls.session, GNUTLS_CRD_CERTIFICATE, tls.credentials),
          "preparing TLS");
    const QByteArray host = server.host.toUtf8();
    if (!host.contains(':') && !host.isEmpty() && !(host.back() >= '0' && host.back() <= '9'))
        gnutls_server_name_set(tls.session, GNUTLS_NAME_DNS, host.constData(), size_t(host.size()));
    gnutls_transport_set_ptr(tls.session, &transport);
    gnutls_transport_set_push_function(tls.session, &push);
    gnutls_transport_set_pull_function(tls.session, &pull);
    gnutls_transport_set_pull_timeout_function(tls.session, &pullTimeout);
    gnutls_handshake_set_timeout(tls.session, unsigned(std::chrono::milliseconds(timeout).count()));
    int rc = 0;
    do {
        rc = gnutls_handshake(tls.session);
    } while (rc < 0 && gnutls_error_is_fatal(rc) == 0);
    check(rc, "the encrypted session could not be set up");

    unsigned count = 0;
    const gnutls_datum_t* chain = gnutls_certificate_get_peers(tls.session, &count);
    if (chain == nullptr || count == 0)
        fail(QStringLiteral("the server presented no certificate"));
    result.presented = details(chain[0]);
    unsigned status = 0;
    check(gnutls_certificate_verify_peers3(tls.session, host.constData(), &status),
          "checking the certificate");

    const std::optional<PinnedCertificate> pinned = TrustedCertificates().find(server);
    if (pinned) {
        gnutls_datum_t der{reinterpret_cast<unsigned char*>(const_cast<char*>(pinned->der.data())),
                           unsigned(pinned->der.size())};
        result.pinned = details(der);
        if (pinned->der != result.presented->der) {
            result.trust = ServerTrust::PinChanged;
            return;
        }
        // Trusted as it stands, but still only while it is valid.
        status &= GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED;
        result.trust = status == 0 ? ServerTrust::Pinned : ServerTrust::NotTrusted;
    } else {
        result.trust = status == 0 ? ServerTrust::Trusted : ServerTrust::NotTrusted;
    }
    if (status != 0)
        result.reasons = reasonsFor(status, *result.presented, server.host);
}

} // namespace

CertificateCheck checkServerCertificate(const QString& serverText, std::chrono::seconds timeout) {
    CertificateCheck result;
    result.server = serverText;
    try {
        inspect(result, parseServerAddress(serverText), timeout);
    } catch (const std::exception& e) {
        if (result.trust != ServerTrust::TlsFailed)
            result.trust = ServerTrust::Failed;
        result.failure = QString::fromUtf8(e.what());
    }
    return result;
}

QString CertificateCheck::describe() const {
    const auto about = [](const CertificateDetails& c) {
        return QStringLiteral("subject \"%1\", issuer \"%2\", valid from %3 to %4, %5")
            .arg(c.subject, c.issuer, day(c.notBefore), day(c.notAfter), sha256Fingerprint(c.der));
    };
    switch (trust) {
    case ServerTrust::Trusted:
    case ServerTrust::Pinned:
        return QString();
    case ServerTrust::NotTrusted:
        return QStringLiteral("The certificate of the server \"%1\" is not trusted: %2. The login "
                              "was not sent. Certificate: %3.")
            .arg(server, reasons.join(QLatin1String("; ")), about(*presented));
    case ServerTrust::PinChanged:
        return QStringLiteral("The certificate of the server \"%1\" has changed since it was "
                              "trusted: it was %2, it is now %3. The login was not sent. "
                              "Certificate now: %4.")
            .arg(server, sha256Fingerprint(pinned->der), sha256Fingerprint(presented->der),
                 about(*presented));
    case ServerTrust::NoEncryption:
        return QStringLiteral("The server \"%1\" offers no encryption: the password would cross "
                              "the network readable by anyone on the way, so it was not sent.")
            .arg(server);
    case ServerTrust::TlsFailed:
        return QStringLiteral("The server \"%1\" answered, but no encrypted connection could be "
                              "set up with it: %2. The login was not sent.")
            .arg(server, failure);
    case ServerTrust::Failed:
        break;
    }
    return QStringLiteral("No encrypted connection to the server \"%1\" could be set up: %2.")
        .arg(server, failure);
}

} // namespace db
