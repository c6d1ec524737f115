#pragma once

#include "db/ServerAddress.h"

#include <QString>

namespace db {

// Sets what FreeTDS reads from the environment, once, in main, before any thread starts
// (setenv while another thread reads the environment is undefined behaviour):
// - TDSVER, the protocol version (kPinnedTdsVersion unless the user has set one);
// - FREETDSCONF, naming a configuration file of this process's own, mode 0600 in a private
//   folder (the user's runtime folder, else beside the settings), removed when the program ends.
// Every connection names its server's section of that file, which says how the login is
// protected. Throws Error when the file cannot be made.
void prepareDriverEnvironment();

// Removes the configuration file, as the program's normal end does; for an end that runs no exit
// handlers (std::_Exit). Safe to call more than once.
void removeDriverConfiguration();

// The configuration file named by FREETDSCONF; empty before prepareDriverEnvironment.
QString driverConfigurationPath();

// How a connection to a server may go.
enum class Encryption {
    // Encrypted from before the login to the end, to a certificate that an authority this
    // computer trusts issued for that host name, or that the user trusts for that server.
    Required,
    // The same where the server offers encryption; where it offers none, in clear. Only ever
    // for one run, by the user's explicit choice.
    AllowUnencrypted,
};

// The name of `server`'s section in the driver's configuration file, which is written first
// when the section is new or has changed (a certificate trusted or no longer trusted). Throws
// Error when the environment was not prepared or the file cannot be written.
QString driverSection(const ServerAddress& server, Encryption encryption);

} // namespace db
