#include "tdsserver/certificate.h"

#include "openssl_util.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace tdsserver {
namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("cannot make a certificate: ") + what + ": " +
                                 openssl::lastError());
}

void addExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    openssl::Extension ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
    check(ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1, value);
}

void addAlternativeNames(X509* cert, const CertificateRequest& request) {
    if (request.dnsNames.empty() && request.ipAddresses.empty())
        return;
    openssl::GeneralNames names(sk_GENERAL_NAME_new_null());
    check(names != nullptr, "names");
    for (const std::string& dns : request.dnsNames) {
        GENERAL_NAME* name = GENERAL_NAME_new();
        ASN1_IA5STRING* text = ASN1_IA5STRING_new();
        check(name && text && ASN1_STRING_set(text, dns.data(), static_cast<int>(dns.size())) == 1,
              "DNS name");
        GENERAL_NAME_set0_value(name, GEN_DNS, text);
        sk_GENERAL_NAME_push(names.get(), name);
    }
    for (const std::string& ip : request.ipAddresses) {
        ASN1_OCTET_STRING* address = a2i_IPADDRESS(ip.c_str());
        if (!address)
            throw std::invalid_argument("not an IP address: " + ip);
        GENERAL_NAME* name = GENERAL_NAME_new();
        check(name != nullptr, "IP address");
        GENERAL_NAME_set0_value(name, GEN_IPADD, address);
        sk_GENERAL_NAME_push(names.get(), name);
    }
    check(X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, 0) == 1,
          "subject alternative names");
}

} // namespace

Certificate makeCertificate(const CertificateRequest& request) {
    openssl::Cert issuerCert;
    openssl::Key issuerKey;
    if (request.issuer) {
        issuerCert = openssl::readCertificate(request.issuer->certificatePem);
        issuerKey = openssl::readPrivateKey(request.issuer->privateKeyPem);
        if (!issuerCert || !issuerKey)
            throw std::invalid_argument("the issuer's certificate or key does not load");
    }

    openssl::Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "EC key");
    openssl::Cert cert(X509_new());
    check(cert != nullptr, "X509_new");
    check(X509_set_version(cert.get(), 2) == 1, "version");

    // A random positive serial of 63 bits, so that no two certificates of a test share one.
    openssl::BigNum serial(BN_new());
    check(serial && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1, "serial");
    check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr, "serial");

    check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), request.notBefore.count()) != nullptr,
          "notBefore");
    check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), request.notAfter.count()) != nullptr,
          "notAfter");
    check(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");

    X509_NAME* subject = X509_get_subject_name(cert.get());
    check(X509_NAME_add_entry_by_txt(
              subject, "CN", MBSTRING_UTF8,
              reinterpret_cast<const unsigned char*>(request.commonName.c_str()), -1, -1, 0) == 1,
          "common name");
    check(X509_set_issuer_name(cert.get(),
                               issuerCert ? X509_get_subject_name(issuerCert.get()) : subject) == 1,
          "issuer name");

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuerCert ? issuerCert.get() : cert.get(), cert.get(), nullptr, nullptr,
                   0);
    addExtension(cert.get(), &ctx, NID_basic_constraints,
                 request.isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(cert.get(), &ctx, NID_key_usage,
                 request.isCa ? "critical,keyCertSign,cRLSign,digitalSignature"
                              : "critical,digitalSignature");
    if (!request.isCa)
        addExtension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (issuerCert)
        addExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    addAlternativeNames(cert.get(), request);

    check(X509_sign(cert.get(), issuerKey ? issuerKey.get() : key.get(), EVP_sha256()) > 0,
          "signature");

    Certificate out;
    openssl::Bio certOut(BIO_new(BIO_s_mem()));
    openssl::Bio keyOut(BIO_new(BIO_s_mem()));
    check(certOut && keyOut, "BIO_new");
    check(PEM_write_bio_X509(certOut.get(), cert.get()) == 1, "certificate PEM");
    check(PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                   nullptr) == 1,
          "key PEM");
    out.certificatePem = openssl::contents(certOut.get());
    out.privateKeyPem = openssl::contents(keyOut.get());
    return out;
}

Certificate makeLocalhostCertificate() {
    CertificateRequest request;
    request.commonName = "localhost";
    request.dnsNames = {"localhost"};
    request.ipAddresses = {"127.0.0.1"};
    return makeCertificate(request);
}

} // namespace tdsserver
