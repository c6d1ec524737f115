#include "db/ConnectionString.h"

#include "Printers.h"
#include "TestFiles.h"
#include "db/DriverSetup.h"
#include "db/Error.h"
#include "db/TrustedCertificates.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using db::ConnectionSettings;
using db::ConnectionStringForm;

// The lines of section `name` in the driver's configuration.
QString section(const QString& name) {
    const QString all = QString::fromUtf8(readFile(db::driverConfigurationPath()));
    const qsizetype at = all.indexOf(u'[' + name + u']');
    if (at < 0)
        return QString();
    const qsizetype next = all.indexOf(u'[', at + 1);
    return all.mid(at, next < 0 ? -1 : next - at);
}

// The keys in their order, the server named by its section of the driver's configuration, and
// each value quoted only where it must be. Both forms share the quoting; that the upper-case
// form's keys reach the server is for the logins through the driver to show.
TEST(ConnectionStringTest, ValuesAreQuotedOnlyWhereNeededAndEncryptionIsRequired) {
    const std::pair<ConnectionSettings, const char*> cases[] = {
        // Nothing is trimmed, and a "}" or "=" without ";" needs no braces.
        {{u("db1,1433"), u("us=er"), u("a}b{c"), u(" Größe ✓ ")},
         "Encryption=require;Database= Größe ✓ ;Uid=us=er;Pwd=a}b{c;"},
        // An injection attempt stays inside the value.
        {{u("srv"), u("sa"), u("x;Trusted_Connection=yes"), u("db")},
         "Encryption=require;Database=db;Uid=sa;Pwd={x;Trusted_Connection=yes};"},
        {{u("srv"), u("{"), u("{pw}"), u(";db;")},
         "Encryption=require;Database={;db;};Uid={{};Pwd={{pw}};"},
        {{u("srv"), u(""), u(""), u(""), db::Encryption::AllowUnencrypted},
         "Encryption=request;Database=;Uid=;Pwd=;"}};
    const QRegularExpression named(u("^Driver=\\{SQL Server\\};Servername=(tallowby-[0-9a-f]{16}"
                                     "(-clear)?);(.*)$"));
    for (const auto& [settings, rest] : cases) {
        const QString mixedCase = db::connectionString(settings, ConnectionStringForm::MixedCase);
        const QRegularExpressionMatch match = named.match(mixedCase);
        ASSERT_TRUE(match.hasMatch()) << mixedCase.toStdString();
        EXPECT_EQ(match.captured(3), u(rest));
        EXPECT_FALSE(section(match.captured(1)).isEmpty()) << mixedCase.toStdString();
    }
}

// FreeTDS ends a braced value at the first "};": such a value would reach the server cut short,
// so building the string must fail instead, in both forms, naming the value.
TEST(UnusableValueTest, ValueHoldingBraceSemicolonIsRefusedByName) {
    const std::pair<ConnectionSettings, const char*> cases[] = {
        {{u("s"), u("};"), u("p"), u("d")}, "user name"},
        {{u("s"), u("u"), u("{p};x"), u("d")}, "password"},
        {{u("s"), u("u"), u("p"), u("d};")}, "database name"}};
    for (const auto& [settings, named] : cases) {
        for (auto form : {ConnectionStringForm::MixedCase, ConnectionStringForm::UpperCase}) {
            EXPECT_THAT([&] { (void)db::connectionString(settings, form); },
                        throwsWith<db::Error>(QStringLiteral("The %1 contains \"};\", which the "
                                                             "ODBC driver cannot be given.")
                                                  .arg(QLatin1String(named))
                                                  .toStdString()));
        }
    }
}

// The server goes into the driver's configuration file, line by line: nothing in it may start
// a line or a key there, and no connection is attempted with it.
TEST(UnusableValueTest, ServerThatIsNoHostIsRefused) {
    for (const char* server : {"", "a\nencryption = off", "a};b", "host;x", "host,70000", "host,",
                               "host,12a", "host\\", ",1433", " db1", "a b"}) {
        EXPECT_THROW((void)db::connectionString({u(server), u("u"), u("p"), u("d")},
                                                ConnectionStringForm::MixedCase),
                     db::Error)
            << server;
    }
}

TEST(DriverConfigurationTest, EachServerHasASectionThatRequiresAVerifiedCertificate) {
    const QFileInfo file(db::driverConfigurationPath());
    EXPECT_EQ(modeOf(file.absoluteFilePath()), 0600u);
    EXPECT_EQ(modeOf(file.absolutePath()), 0700u);
    EXPECT_EQ(qgetenv("FREETDSCONF"), QFile::encodeName(file.absoluteFilePath()));

    const QString byPort =
        section(db::driverSection(db::parseServerAddress(u("Db1,1444")), db::Encryption::Required));
    EXPECT_EQ(byPort.split(u'\n').mid(1).join(u'\n'),
              u("\thost = Db1\n\tport = 1444\n\tencryption = require\n\tca file = system\n"
                "\tcheck certificate hostname = yes\n"));
    const QString byInstance = section(db::driverSection(
        db::parseServerAddress(u("db1\\SQLEXPRESS")), db::Encryption::AllowUnencrypted));
    EXPECT_TRUE(byInstance.contains(u("\tinstance = SQLEXPRESS\n\tencryption = request\n")))
        << byInstance.toStdString();
    // "db1" and "DB1,1444" are other servers than "Db1,1444", but "db1,1444" is the same one.
    EXPECT_EQ(db::driverSection(db::parseServerAddress(u("db1,1444")), db::Encryption::Required),
              db::driverSection(db::parseServerAddress(u("Db1,1444")), db::Encryption::Required));
    EXPECT_NE(db::driverSection(db::parseServerAddress(u("db1")), db::Encryption::Required),
              db::driverSection(db::parseServerAddress(u("Db1,1444")), db::Encryption::Required));

    // A certificate the user trusts is the only one the driver accepts for that server, whatever
    // name it was issued for; once it is no longer trusted, the system's authorities are back.
    const db::ServerAddress server = db::parseServerAddress(u("pinned.test,2444"));
    const db::TrustedCertificates trusted;
    trusted.pin(server, QByteArray("\x30\x03\x02\x01\x01", 5));
    const QString pinned = section(db::driverSection(server, db::Encryption::Required));
    EXPECT_TRUE(pinned.contains(u("\tca file = ") + trusted.pathFor(server) +
                                u("\n\tcheck certificate hostname = no\n")))
        << pinned.toStdString();
    ASSERT_TRUE(trusted.remove(server));
    EXPECT_TRUE(section(db::driverSection(server, db::Encryption::Required))
                    .contains(u("\tca file = system\n")));
}

TEST(TrustedCertificatesTest, PinsAreKeptPrivatelyAndNeverThroughALink) {
    QTemporaryDir home;
    const db::TrustedCertificates trusted(home.path() + u("/pins"));
    const db::ServerAddress server = db::parseServerAddress(u("Host\\Inst"));
    const QByteArray der("\x30\x82\x01\x00 any bytes at all", 22);
    EXPECT_FALSE(trusted.find(server).has_value());
    trusted.pin(server, der);
    const std::optional<db::PinnedCertificate> found = trusted.find(server);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->der, der);
    EXPECT_EQ(found->server, u("host\\inst"));
    EXPECT_EQ(modeOf(found->path), 0600u);
    EXPECT_EQ(modeOf(trusted.folder()), 0700u);
    ASSERT_EQ(trusted.all().size(), 1u);

    // A link put in a pin's place is neither read nor written through.
    const db::ServerAddress other = db::parseServerAddress(u("other,1"));
    QFile target(home.path() + u("/elsewhere.pem"));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write("not ours to change");
    target.close();
    ASSERT_TRUE(QFile::link(target.fileName(), trusted.pathFor(other)));
    EXPECT_THROW((void)trusted.find(other), db::Error);
    trusted.pin(other, der);
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_EQ(target.readAll(), QByteArray("not ours to change"));
    EXPECT_EQ(trusted.find(other)->der, der);

    EXPECT_TRUE(trusted.remove(server));
    EXPECT_FALSE(trusted.remove(server));
    EXPECT_EQ(trusted.all().size(), 1u);
}

// The printed form is OpenSSL's ("openssl x509 -fingerprint -sha256" prints the same digits);
// it reads back, also without its colons and in lower case, and a short or non-hexadecimal one
// reads as nothing.
TEST(TrustedCertificatesTest, FingerprintIsReadInAnySpelling) {
    const QString printed = db::sha256Fingerprint(QByteArray("certificate"));
    EXPECT_EQ(printed, u("SHA256:03:D6:6D:D0:88:35:C1:CA:3F:12:8C:CE:AC:D1:F3:1A:C9:41:63:09:6B:"
                         "20:F4:45:AE:84:28:5B:C0:83:2D:72"));
    const QByteArray bytes = db::parseFingerprint(printed);
    EXPECT_EQ(bytes.size(), 32);
    QString bare = printed.mid(7).toLower();
    bare.remove(u':');
    EXPECT_EQ(db::parseFingerprint(u("sha256:") + bare), bytes);
    EXPECT_TRUE(db::parseFingerprint(bare.left(62)).isEmpty());
    EXPECT_TRUE(db::parseFingerprint(bare.left(63) + u("g")).isEmpty());
}

} // namespace
