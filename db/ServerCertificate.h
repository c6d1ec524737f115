#pragma once

#include "db/ServerAddress.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace db {

// What a certificate says about itself, for a person deciding whether to trust it.
struct CertificateDetails {
    QByteArray der;
    QString subject;
    QString issuer;
    QDateTime notBefore;
    QDateTime notAfter;
};

enum class ServerTrust {
    Trusted,      // an authority this computer trusts issued it for that host name
    Pinned,       // exactly the certificate the user trusts for this server
    NotTrusted,   // it cannot be verified; `reasons` says why
    PinChanged,   // another certificate than the one the user trusts for this server
    NoEncryption, // the server offers no encryption at all
    TlsFailed,    // the server answered, but no encrypted session could be set up with it
    Failed,       // the server cannot be reached or did not answer; `failure` says why
};

struct CertificateCheck {
    ServerTrust trust = ServerTrust::Failed;
    QString server; // as the user gave it
    std::optional<CertificateDetails> presented;
    std::optional<CertificateDetails> pinned;
    QStringList reasons;
    QString failure;

    // Why the login was not sent, in words, with the certificate's fingerprint where there is
    // one. Empty for Trusted and Pinned.
    QString describe() const;
};

// Reads the certificate that `server` presents, without logging in: the first message of the
// protocol, then the TLS handshake inside it, checked against the system's authorities (host
// name included) and against the certificate the user trusts for that server; then the
// connection is closed. Nothing from which a password could be learnt is ever sent. Waits at
// most `timeout` for each step. Never throws: every failure comes back as Failed or TlsFailed.
CertificateCheck checkServerCertificate(const QString& server, std::chrono::seconds timeout);

} // namespace db
