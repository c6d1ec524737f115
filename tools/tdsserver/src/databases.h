#pragma once

// The databases a server serves. Each is a SQLite database whose schemas are SQLite databases
// attached under the schema's name; "dbo" is the main one. A file database "dir/x.sqlite" keeps
// its other schemas beside it as "dir/x.<schema>.sqlite"; an in-memory database keeps them in
// SQLite's shared in-memory VFS, alive for as long as the server holds them.
//
// Every client session reads through a read-only SQLite connection of its own, so sessions
// never wait for one another.

#include "tdsserver/server.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace tdsserver {

// A session's read-only view of one database.
class DatabaseView {
public:
    DatabaseView(sqlite3* db, std::string name, std::vector<std::string> schemas,
                 std::uint64_t generation);
    ~DatabaseView();
    DatabaseView(const DatabaseView&) = delete;
    DatabaseView& operator=(const DatabaseView&) = delete;

    sqlite3* handle() const { return db_; }
    const std::string& name() const { return name_; }
    std::uint64_t generation() const { return generation_; }
    // The SQLite schema that holds a SQL Server schema ("main" for dbo), compared without
    // regard to case; nullopt when the database has no such schema.
    std::optional<std::string> sqliteSchema(std::string_view schema) const;
    // Every table and view of every schema, ordered as SQL Server's sp_tables orders them.
    std::vector<CatalogEntry> defaultCatalog() const;

private:
    sqlite3* db_;
    std::string name_;
    std::vector<std::string> schemas_; // besides dbo, in the order they were created
    std::uint64_t generation_;
};

class Databases {
public:
    Databases();
    ~Databases();
    Databases(const Databases&) = delete;
    Databases& operator=(const Databases&) = delete;

    void add(const std::string& name, const std::string& sqlitePath);
    void execSql(const std::string& database, const std::string& sql, const std::string& schema);
    void setCatalog(const std::string& database, std::optional<std::vector<CatalogEntry>> rows);

    // The name as registered, for a name compared without regard to case.
    std::optional<std::string> find(std::string_view name) const;
    std::optional<std::string> defaultDatabase() const;
    std::vector<std::string> names() const;

    std::unique_ptr<DatabaseView> open(const std::string& name) const;
    // True when the database's schemas changed since the view was opened.
    bool stale(const DatabaseView& view) const;
    // The catalogue rows a test fixed for the database, if any.
    std::optional<std::vector<CatalogEntry>> catalogOverride(const std::string& name) const;

private:
    struct Schema {
        std::string name;
        std::string location; // a file path, or a URI of the in-memory VFS
    };
    struct Database {
        std::string name;
        bool memory = false;
        std::string stem, extension; // file databases: where sibling schemas live
        std::vector<Schema> schemas; // [0] is dbo
        sqlite3* anchor = nullptr;   // keeps in-memory schemas alive; used for set-up
        std::optional<std::vector<CatalogEntry>> catalog;
        std::uint64_t generation = 0;
    };

    Database& get(const std::string& name);
    const Database* lookup(std::string_view name) const;
    void attach(Database& db, const Schema& schema);

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Database>> databases_;
    std::uint64_t instance_;
    int memoryCounter_ = 0;
};

} // namespace tdsserver
