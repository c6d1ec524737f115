#include "app/ServerTrust.h"

#include "db/TrustedCertificates.h"

namespace app {

namespace {

QString aboutCertificate(const db::CertificateDetails& c) {
    return QStringLiteral("Subject: %1\nIssuer: %2\nValid from %3 to %4\nSHA-256 fingerprint:\n%5")
        .arg(c.subject, c.issuer, c.notBefore.toString(Qt::ISODate),
             c.notAfter.toString(Qt::ISODate), db::sha256Fingerprint(c.der));
}

} // namespace

QString trustQuestion(const db::CertificateCheck& check) {
    switch (check.trust) {
    case db::ServerTrust::NotTrusted:
        return QStringLiteral(
                   "The server \"%1\" presents a certificate that cannot be verified: %2.\n\n%3\n\n"
                   "Trust it only if you know it to be this server's own: compare the fingerprint "
                   "with the one its administrator gives. Once trusted, logins to this server "
                   "go to this certificate and to no other.")
            .arg(check.server, check.reasons.join(QStringLiteral("; ")),
                 aboutCertificate(*check.presented));
    case db::ServerTrust::PinChanged:
        return QStringLiteral(
                   "The certificate of the server \"%1\" has changed since you trusted it.\n\n"
                   "Trusted before:\n%2\n\nPresented now:\n%3\n\nA server's certificate changes "
                   "when it is renewed or the server is set up again, but also when someone "
                   "stands between you and the server. Trust the new one only if its "
                   "administrator confirms the fingerprint.")
            .arg(check.server, db::sha256Fingerprint(check.pinned->der),
                 aboutCertificate(*check.presented));
    case db::ServerTrust::NoEncryption:
        return QStringLiteral(
                   "The server \"%1\" offers no encryption. Connecting to it would send your "
                   "password and the table's data across the network readable by anyone on the "
                   "way, and anyone on the way could also have answered in the server's name.\n\n"
                   "Connect without encryption only on a network you trust. The choice holds "
                   "until the program ends and is not remembered.")
            .arg(check.server);
    case db::ServerTrust::Trusted:
    case db::ServerTrust::Pinned:
    case db::ServerTrust::Failed:
    case db::ServerTrust::TlsFailed:
        break;
    }
    return check.describe();
}

} // namespace app
