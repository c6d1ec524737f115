#pragma once

#include "db/Connection.h"
#include "db/ConnectionSettings.h"
#include "db/ConnectionString.h"
#include "db/Error.h"
#include "db/ServerCertificate.h"

namespace db {

// A login that was not sent because the server could not be trusted with it: its certificate
// cannot be verified or is not the one the user trusts, or it offers no encryption at all.
class CertificateError : public Error {
public:
    explicit CertificateError(CertificateCheck check);
    const CertificateCheck& check() const { return check_; }

private:
    CertificateCheck check_;
};

// Opens a connection for `settings` with the given form of the connection string. The driver is
// told to encrypt the whole connection and to send the login only to a certificate that an
// authority of the system's trusts for that host name, or to the one the user trusts for that
// server. When the driver cannot connect without the server having answered, the certificate is
// read (without logging in) to say why: CertificateError when the server cannot be trusted with
// the password, the driver's OdbcError otherwise.
Connection logIn(const ConnectionSettings& settings, ConnectionStringForm form,
                 std::chrono::seconds loginTimeout = kDefaultLoginTimeout,
                 std::chrono::seconds queryTimeout = kDefaultQueryTimeout);

} // namespace db
