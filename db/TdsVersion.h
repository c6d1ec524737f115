#pragma once

namespace db {

// The TDS protocol version the program asks FreeTDS for: the one SQL Server 2012 and later speak.
inline constexpr const char* kPinnedTdsVersion = "7.4";

// Sets TDSVER to kPinnedTdsVersion in the program's environment unless the user has set it.
// FreeTDS's own default, "auto", falls back to TDS 5.0 against a server that accepts the
// connection and never answers, and then waits for ever whatever the login time-out says; it
// also retries every refused login with a second protocol. FreeTDS reads TDSVER at each login,
// so this only has to happen before the first connection; the layer calls it when it creates
// an environment. Returns the value in force afterwards.
const char* pinTdsVersion();

} // namespace db
