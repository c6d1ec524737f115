#pragma once

// The benchmark's three runs; each prints its figures and returns the exit status, or throws
// Failure when something does not work.

#include "Bench.h"
#include "db/ConnectionSettings.h"

#include <QByteArray>
#include <tdsserver/server.h>

namespace benchapp {

// The comparison: (w) against (c) over the rounds, the Refresh's gaps, "Next >" on a slow
// network, then "Finish" and the editing.
int runComparison(const Options& options, const db::ConnectionSettings& login,
                  tdsserver::Server& server);
// One large export, the first and only thing the process does: its time against the command
// line's, its memory and what it gives back once a small table replaces it; then "Finish" and
// the editing.
int runCapacity(const Options& options, const db::ConnectionSettings& login, std::uint16_t port);
// A preview past 2 GiB, from a delimited text made here.
int runLarge(const Options& options, const db::ConnectionSettings& login);
// "Cancel" with the server stopped, during the login and while rows stream: the time to the end
// of the process, the program run whole in a child process. `der` is the server's certificate.
int runCancelEnd(const Options& options, const db::ConnectionSettings& login, const QByteArray& der,
                 tdsserver::Server& server);

} // namespace benchapp
