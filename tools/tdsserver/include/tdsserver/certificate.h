#pragma once

// Certificates made in code, for the test server and for tests that need a certificate of their
// own: a self-signed one, a certificate authority, or a certificate signed by one.

#include <chrono>
#include <string>
#include <vector>

namespace tdsserver {

// A certificate and its private key, both PEM.
struct Certificate {
    std::string certificatePem;
    std::string privateKeyPem;
};

struct CertificateRequest {
    std::string commonName = "localhost";
    std::vector<std::string> dnsNames;    // subject alternative names
    std::vector<std::string> ipAddresses; // "127.0.0.1", "::1"
    // The validity, relative to now; a negative notAfter makes a certificate that has expired.
    std::chrono::seconds notBefore{-3600};
    std::chrono::seconds notAfter{std::chrono::hours(24 * 365)};
    bool isCa = false;                   // a certificate authority, which may sign others
    const Certificate* issuer = nullptr; // signs the certificate; nullptr: self-signed
};

// An EC P-256 key and its certificate, signed with SHA-256. Throws std::invalid_argument for an
// IP address that does not parse and for an issuer whose PEM does not load, std::runtime_error
// when OpenSSL fails.
Certificate makeCertificate(const CertificateRequest& request);

// The self-signed certificate a server makes for itself: CN=localhost, DNS:localhost and
// IP:127.0.0.1.
Certificate makeLocalhostCertificate();

} // namespace tdsserver
