#pragma once

// A small TDS 7.4 server over SQLite, for tests, benchmarks and the demo.
//
// It speaks enough of the protocol for FreeTDS's ODBC driver: PRELOGIN with TLS 1.2 as SQL
// Server negotiates it (see Config::encryption), LOGIN7, SQL batches, RPC requests and ATTENTION. A
// database is a SQLite database; its schemas are SQLite databases attached under the schema's name,
// "dbo" being the main one. The server answers "SELECT * FROM [name]" and "SELECT * FROM
// [schema].[name]" (optionally with a database prefix), SET and USE statements, SELECT @@TEXTSIZE, and the sp_tables
// catalogue procedure; anything else gets the error a SQL Server would send (102 syntax, 208
// unknown object, 2812 unknown procedure).
//
// Everything here is thread-safe: a test may read the records while clients are connected.

#include "tdsserver/certificate.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tdsserver {

struct Config {
    // What the server says of encryption in its PRELOGIN answer, and so what clients get:
    //   None      no TLS: clients that insist on encryption give up, the others log in in clear.
    //   Off       TLS for the login only, unless the client insists (then for everything); a
    //             client without TLS logs in in clear.
    //   On        TLS for everything; a client without TLS is turned away.
    //   Required  as On: SQL Server's strongest setting, which On already is.
    // TLS is 1.2 only. Its handshake travels inside PRELOGIN packets; then TLS carries the packets.
    enum class Encryption { None, Off, On, Required };
    Encryption encryption = Encryption::Required;
    // The server's certificate (followed by its chain, if any) and private key, PEM. When empty
    // and encryption is not None, start() makes a self-signed one: makeLocalhostCertificate().
    std::string certificatePem{};
    std::string privateKeyPem{};

    std::string user = "demo";
    std::string password = "demo";
    // The text size a session starts with: the bytes of a text, ntext, image or (max) value
    // that a result carries, the rest cut off, until the client's SET TEXTSIZE changes it.
    // Unlimited by default; SQL Server's own default for a session is 4096.
    std::int64_t textSize = kUnlimitedTextSize;
    static constexpr std::int64_t kUnlimitedTextSize = 2147483647;
    // Called from connection threads with one line per login, batch and RPC; may be empty.
    std::function<void(std::string_view)> log;
};

// What a client sent in its LOGIN7 record, decoded to UTF-8.
struct LoginRecord {
    std::string user;
    std::string password;
    std::string database;
    std::string hostName;
    std::string appName;
    std::string serverName;
    std::string libraryName;
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    bool accepted = false;
    bool encrypted = false; // the LOGIN7 arrived inside TLS
};

struct RpcParam {
    std::string name;  // "@table_type", or empty for a positional parameter
    std::string type;  // the TDS type as SQL Server names it, for example "nvarchar"
    std::string value; // the value as text (UTF-8); empty for NULL
    bool isNull = false;
};

struct RpcRecord {
    std::string procedure; // a procedure sent by number is recorded under its name
    std::vector<RpcParam> params;
};

// One row of the sp_tables catalogue.
struct CatalogEntry {
    std::string schema;
    std::string name;
    std::string type = "TABLE"; // "TABLE", "VIEW", "SYSTEM TABLE", or anything a test wants
};

class Server {
public:
    explicit Server(Config config = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Registers a database. sqlitePath is a SQLite file or ":memory:". For a file "dir/x.sqlite",
    // every "dir/x.<schema>.sqlite" beside it is attached as that schema. The first database
    // added is the login's default database. Throws std::runtime_error when SQLite cannot open it.
    void addDatabase(const std::string& name, const std::string& sqlitePath);

    // Runs SQLite statements in one schema of a database, creating the schema when it is new (an
    // in-memory schema for an in-memory database, a sibling file for a file database). Meant for
    // setting up data before clients read it. Throws std::runtime_error with SQLite's message.
    void execSql(const std::string& database, const std::string& sql,
                 const std::string& schema = "dbo");

    // Fixes the rows and their order that sp_tables reports for a database, instead of the
    // default (every table and view of every schema, ordered by type, schema and name as SQL
    // Server orders them). The entries need not exist. resetCatalog returns to the default.
    void setCatalog(const std::string& database, std::vector<CatalogEntry> entries);
    void resetCatalog(const std::string& database);

    // Listens on 127.0.0.1 (port 0: a free port) and returns the port. Throws std::runtime_error
    // when the port cannot be bound, the server already runs, or the configured certificate and
    // key do not load.
    std::uint16_t start(std::uint16_t port = 0);
    std::uint16_t port() const;
    // Closes every connection and joins every thread. Safe to call twice.
    void stop();

    // The certificate and key (PEM) that connections accepted from now on present; those
    // already open keep theirs. Throws std::runtime_error when they do not load (the current
    // ones stay). Before start(), it replaces the one start() would make.
    void setCertificate(const std::string& certificatePem, const std::string& privateKeyPem);

    // Faults a test can switch on and off at any time.
    // Every login is answered with error 18456, whatever its user and password.
    void refuseLogins(bool refuse);
    // Every session keeps the text size it started with: SET TEXTSIZE is taken and has no effect,
    // as where a server's own set-up holds its sessions to one.
    void holdTextSize(bool hold);
    // Cuts the connection once n rows of a result have been sent, after the column metadata
    // for n = 0 (n < 0: never). Applies to every result, the catalogue's too (not to SELECT
    // @@TEXTSIZE, which reads a setting of the session).
    void dropAfterRows(std::int64_t n);
    // Waits this long before the first row of every result; a cancel (or a client's query
    // time-out) ends the wait.
    void firstRowDelay(std::chrono::milliseconds delay);
    // Goes silent once n rows of a result have been sent (n = 0: before the column metadata;
    // n < 0: never), as a stopped server does: nothing more is sent and a cancel is not
    // answered, until the fault is switched off or the server stops.
    void stallAfterRows(std::int64_t n);
    // Waits this long before answering every login, as a distant or busy server does.
    void loginDelay(std::chrono::milliseconds delay);
    // Waits this long after each packet of a result, as a slow network does; a cancel is still
    // seen at the next packet.
    void packetDelay(std::chrono::milliseconds delay);
    // Connections accepted from now on are never answered, not even their PRELOGIN.
    void neverAnswer(bool never);

    // Copies of what clients sent, oldest first.
    std::vector<LoginRecord> logins() const;
    std::vector<std::string> batches() const;
    std::vector<RpcRecord> rpcs() const;
    std::size_t attentions() const; // cancels received
    void clearRecords();

    struct State; // shared with the connection threads

private:
    std::shared_ptr<State> state_;
};

} // namespace tdsserver
