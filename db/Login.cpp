#include "db/Login.h"

#include <algorithm>
#include <utility>

namespace db {

namespace {

// The server's own errors (a refused password, an unknown database) carry its error numbers;
// the driver's numbers for a connection that never got that far start at 20000.
bool serverAnswered(const OdbcError& error) {
    return std::any_of(
        error.records().begin(), error.records().end(),
        [](const DiagnosticRecord& r) { return r.nativeError > 0 && r.nativeError < 20000; });
}

} // namespace

CertificateError::CertificateError(CertificateCheck check)
    : Error(check.describe()), check_(std::move(check)) {}

Connection logIn(const ConnectionSettings& settings, ConnectionStringForm form,
                 std::chrono::seconds loginTimeout, std::chrono::seconds queryTimeout) {
    const QString text = connectionString(settings, form);
    try {
        return Connection::open(text, loginTimeout, queryTimeout);
    } catch (const OdbcError& e) {
        if (serverAnswered(e))
            throw;
        CertificateCheck check = checkServerCertificate(settings.server, loginTimeout);
        if (check.trust == ServerTrust::NotTrusted || check.trust == ServerTrust::PinChanged ||
            check.trust == ServerTrust::TlsFailed ||
            (check.trust == ServerTrust::NoEncryption &&
             settings.encryption == Encryption::Required)) {
            throw CertificateError(std::move(check));
        }
        throw;
    }
}

} // namespace db
