#pragma once

#include "db/ConnectionSettings.h"

#include <QString>

namespace db {

// The two spellings of the connection string. The driver reads them alike; the probe and the
// table list use the mixed-case one, the connection test and the export the upper-case one.
enum class ConnectionStringForm { MixedCase, UpperCase };

// "Driver={SQL Server};Server=...;Database=...;Uid=...;Pwd=...;" or its upper-case twin, each
// value inserted as it stands. A value holding ";" or beginning with "{" goes in braces, so that
// it reaches the server whole instead of ending early and adding keys of its own. FreeTDS reads
// a braced value up to the first "};" with nothing unescaped, so a value holding "};" cannot be
// passed at all: that throws Error naming the value, and no connection is attempted.
QString connectionString(const ConnectionSettings& settings, ConnectionStringForm form);

} // namespace db
