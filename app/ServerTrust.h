#pragma once

#include "db/ServerCertificate.h"

#include <QString>

namespace app {

// The captions of the choices the connection page offers when a server cannot be trusted with
// the login as it stands.
inline constexpr char16_t kTrustCertificate[] = u"Trust This Certificate";
inline constexpr char16_t kConnectUnencrypted[] = u"Connect Without Encryption";

// What the user is shown before deciding: the server, the certificate (subject, issuer,
// validity, SHA-256 fingerprint), why it is not trusted, or that the one trusted before has
// changed (both fingerprints); for a server without encryption, what connecting in clear risks.
QString trustQuestion(const db::CertificateCheck& check);

} // namespace app
