#pragma once

#include "ConversionArgs.h"
#include "db/ConnectionSettings.h"
#include "db/ServerCertificate.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <exception>
#include <optional>

namespace db {
class SettingsStore;
}

namespace cli {

// What --help tells after the options of a command that reaches the database.
inline constexpr const char* kLoginHelp =
    "A login value not given is the wizard's last one, from its settings. The password is never\n"
    "taken from the command line: it comes from the environment variable TALLOWBY_PASSWORD when\n"
    "that is set, else from the first line of standard input with --password-stdin. Otherwise,\n"
    "for the wizard's own server and user it is the wizard's stored one (from the desktop's\n"
    "keyring, or its settings file where no keyring answers), and it is never sent to another\n"
    "server or user: for those it is asked for without echo when standard input is a terminal,\n"
    "and the command fails (exit status 2) when it is not.\n"
    "\n"
    "The login is only ever sent encrypted, to a server whose certificate an authority this\n"
    "computer trusts issued for its name, or that was trusted with 'tallowby-cli trust'. A server\n"
    "that offers no encryption is refused before the login; --allow-unencrypted lets this one\n"
    "run log in to it all the same, and the password then crosses the network readable by anyone\n"
    "on the way.\n";

struct LoginArgs {
    std::optional<QString> server;
    std::optional<QString> user;
    std::optional<QString> database;
    bool passwordFromStdin = false;
    bool allowUnencrypted = false;
    std::chrono::seconds loginTimeout{15};
    std::chrono::seconds queryTimeout{30};
};

// Adds the login options to `parser`, and reads them from it once it has parsed; a timeout out
// of range is printed and gives false. "--password" is refused by parseArguments.
void addLoginOptions(QCommandLineParser& parser);
bool readLoginOptions(const QCommandLineParser& parser, LoginArgs& login);
// A time-out option `name` of 1 to 3600 seconds into `seconds`, left as it is when not given;
// false, after a line on standard error, when it is out of range.
bool readSeconds(const QCommandLineParser& parser, const char* name, std::chrono::seconds& seconds);

// The four values to log in with: those given, the rest from `store`, the password as
// kLoginHelp tells. Empty, with the reason in `error`, when no password can be had.
std::optional<db::ConnectionSettings> resolveLogin(const LoginArgs& login, db::SettingsStore& store,
                                                   QString& error);

// A failure of the database, for standard error: its message, and for a certificate that is not
// trusted the command that trusts it.
QString describeFailure(const std::exception& failure);
QString describeCertificate(const db::CertificateCheck& check);

// resolveLogin with the user's own store; an error is printed.
std::optional<db::ConnectionSettings> resolveLoginOrReport(const LoginArgs& login);

// Parses the arguments of a command that reaches the database: the login options are added to
// the command's own options in `parser`, --help prints `help` with kLoginHelp after the options,
// and any argument that is no option is refused. Returns the exit status when the command ends
// here: 0 after --help, 2 after a usage error.
std::optional<int> parseLoginCommand(QCommandLineParser& parser, const QStringList& args, Help help,
                                     LoginArgs& login);

} // namespace cli
