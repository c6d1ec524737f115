#pragma once

#include "db/ServerAddress.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace db {

// "SHA256:" and the SHA-256 of a certificate's DER bytes as upper-case hexadecimal pairs joined
// by ":", the form `openssl x509 -fingerprint -sha256` prints.
QString sha256Fingerprint(const QByteArray& der);

// Reads a fingerprint typed by a user: "SHA256:" optional, case and ":" free. Empty when the
// text is not 32 bytes of hexadecimal.
QByteArray parseFingerprint(const QString& text);

// The DER bytes of the first certificate in PEM text; empty when it holds none.
QByteArray derFromPem(const QByteArray& pem);

// A server's certificate that the user chose to trust although no authority this computer
// trusts vouches for it. The file holds the certificate itself (PEM), so that the driver can be
// told to accept exactly that certificate and no other.
struct PinnedCertificate {
    QString server; // ServerAddress::key()
    QByteArray der;
    QString path;
};

// The certificates the user trusts, one file per server, in a private folder beside the settings
// file (mode 0700, each file 0600).
class TrustedCertificates {
public:
    // The folder beside the user's own settings file.
    TrustedCertificates();
    explicit TrustedCertificates(QString folder);

    static QString defaultFolder();
    // The folder beside the settings file `settingsFile`.
    static QString folderBeside(const QString& settingsFile);
    QString folder() const { return folder_; }
    QString pathFor(const ServerAddress& server) const;

    // Throws Error when the file is there but cannot be trusted to be the user's own.
    std::optional<PinnedCertificate> find(const ServerAddress& server) const;
    // Replaces whatever was trusted for the server. Throws Error when it cannot be written.
    void pin(const ServerAddress& server, const QByteArray& der) const;
    // False when nothing was trusted for the server. Throws Error when it cannot be removed.
    bool remove(const ServerAddress& server) const;
    // Every trusted certificate, by server.
    std::vector<PinnedCertificate> all() const;

private:
    std::optional<PinnedCertificate> read(const QString& path) const;

    QString folder_;
};

} // namespace db
