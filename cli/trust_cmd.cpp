#include "ConversionArgs.h"
#include "LoginArgs.h"
#include "commands.h"
#include "db/Connection.h"
#include "db/Error.h"
#include "db/ServerCertificate.h"
#include "db/TrustedCertificates.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace cli {

namespace {

constexpr Help kHelp{
    "Usage: tallowby-cli trust --server NAME [--fingerprint SHA256:HEX]\n"
    "       tallowby-cli trust --list\n"
    "       tallowby-cli trust --remove --server NAME",
    "Trusts the certificate that a server presents although no authority this computer trusts\n"
    "vouches for it (a self-signed certificate, as most SQL Server installations have), so that\n"
    "logins to that server go to that certificate and to no other. The certificate is read\n"
    "without logging in. With --fingerprint it is trusted only when it is the one named (for\n"
    "scripts: compare with `openssl x509 -fingerprint -sha256` of the server's certificate);\n"
    "without it, on a terminal, it is shown and you are asked.",
};

void printCertificate(const db::CertificateDetails& c) {
    std::printf("  Subject:     %s\n  Issuer:      %s\n  Valid:       %s to %s\n"
                "  Fingerprint: %s\n",
                c.subject.toLocal8Bit().constData(), c.issuer.toLocal8Bit().constData(),
                c.notBefore.toString(Qt::ISODate).toLocal8Bit().constData(),
                c.notAfter.toString(Qt::ISODate).toLocal8Bit().constData(),
                db::sha256Fingerprint(c.der).toLocal8Bit().constData());
}

bool userAgrees() {
    std::fputs("Trust this certificate for this server? [y/N] ", stdout);
    std::fflush(stdout);
    std::string line;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line.push_back(char(c));
    return line == "y" || line == "Y" || line == "yes";
}

int list() {
    const std::vector<db::PinnedCertificate> pins = db::TrustedCertificates().all();
    for (const db::PinnedCertificate& pin : pins) {
        std::printf("%s %s\n", pin.server.toLocal8Bit().constData(),
                    db::sha256Fingerprint(pin.der).toLocal8Bit().constData());
    }
    return 0;
}

int pin(const QString& serverText, const QString& fingerprint, std::chrono::seconds timeout) {
    const db::ServerAddress server = db::parseServerAddress(serverText);
    const db::CertificateCheck check = db::checkServerCertificate(serverText, timeout);
    switch (check.trust) {
    case db::ServerTrust::Trusted:
        std::printf("The certificate of \"%s\" is already trusted by this computer; nothing to "
                    "do.\n",
                    serverText.toLocal8Bit().constData());
        return 0;
    case db::ServerTrust::Pinned:
        std::printf("This certificate is already trusted for \"%s\".\n",
                    serverText.toLocal8Bit().constData());
        return 0;
    case db::ServerTrust::NoEncryption:
    case db::ServerTrust::TlsFailed:
    case db::ServerTrust::Failed:
        printError(check.describe());
        return 1;
    case db::ServerTrust::NotTrusted:
    case db::ServerTrust::PinChanged:
        break;
    }
    const db::CertificateDetails& presented = *check.presented;
    if (!fingerprint.isEmpty()) {
        const QByteArray wanted = db::parseFingerprint(fingerprint);
        if (wanted.isEmpty()) {
            printError(QStringLiteral("--fingerprint wants SHA256: and 32 bytes in hexadecimal, "
                                      "not '%1'")
                           .arg(fingerprint));
            return 2;
        }
        if (db::parseFingerprint(db::sha256Fingerprint(presented.der)) != wanted) {
            printError(QStringLiteral("the server \"%1\" presents the certificate %2, not the one "
                                      "given; nothing was trusted")
                           .arg(serverText, db::sha256Fingerprint(presented.der)));
            return 1;
        }
    } else {
        if (!::isatty(STDIN_FILENO)) {
            printError(QStringLiteral("not on a terminal: give the certificate's fingerprint "
                                      "with --fingerprint (%1)")
                           .arg(check.describe()));
            return 2;
        }
        std::printf("%s\n", check.describe().toLocal8Bit().constData());
        printCertificate(presented);
        if (!userAgrees()) {
            std::printf("Nothing was trusted.\n");
            return 1;
        }
    }
    db::TrustedCertificates().pin(server, presented.der);
    std::printf("Trusted for \"%s\": %s\n", serverText.toLocal8Bit().constData(),
                db::sha256Fingerprint(presented.der).toLocal8Bit().constData());
    return 0;
}

} // namespace

int runTrust(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("the server, as the wizard takes it"),
                                    QStringLiteral("NAME"));
    const QCommandLineOption fingerprint(
        QStringLiteral("fingerprint"),
        QStringLiteral("trust the certificate only when its SHA-256 fingerprint is this one"),
        QStringLiteral("SHA256:HEX"));
    const QCommandLineOption listOption(QStringLiteral("list"),
                                        QStringLiteral("print the trusted certificates"));
    const QCommandLineOption remove(QStringLiteral("remove"),
                                    QStringLiteral("no longer trust the server's certificate"));
    const QCommandLineOption timeout(QStringLiteral("login-timeout"),
                                     QStringLiteral("how long to wait for the server (default "
                                                    "15)"),
                                     QStringLiteral("SEC"));
    parser.addOptions({server, fingerprint, listOption, remove, timeout});
    if (const std::optional<int> status = parseArguments(parser, args, kHelp))
        return *status;
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unknown argument '%1' (try --help)")
                       .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    std::chrono::seconds wait = db::kDefaultLoginTimeout;
    if (!readSeconds(parser, "login-timeout", wait))
        return 2;
    try {
        if (parser.isSet(listOption))
            return list();
        if (!parser.isSet(server)) {
            printError(QStringLiteral("--server NAME is required (try --help)"));
            return 2;
        }
        if (parser.isSet(remove)) {
            const QString name = parser.value(server);
            if (!db::TrustedCertificates().remove(db::parseServerAddress(name))) {
                printError(QStringLiteral("no certificate is trusted for \"%1\"").arg(name));
                return 1;
            }
            std::printf("No longer trusted: the certificate of \"%s\".\n",
                        name.toLocal8Bit().constData());
            return 0;
        }
        return pin(parser.value(server), parser.value(fingerprint), wait);
    } catch (const db::Error& e) {
        printError(e.message());
        return 1;
    }
}

} // namespace cli
