#include "databases.h"

#include "text.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sqlite3.h>
#include <stdexcept>
#include <tuple>

namespace tdsserver {
namespace {

constexpr int kBusyTimeoutMs = 5000;

std::string quoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (const char c : name) {
        out.push_back(c);
        if (c == '"')
            out.push_back('"');
    }
    out.push_back('"');
    return out;
}

sqlite3* openConnection(const std::string& location, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(location.c_str(), &db, flags | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw std::runtime_error("cannot open SQLite database '" + location + "': " + message);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return db;
}

void attachTo(sqlite3* db, const std::string& location, const std::string& schema) {
    const std::string sql = "ATTACH DATABASE ?1 AS " + quoteIdentifier(schema);
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, location.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(stmt);
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_OK)
        throw std::runtime_error("cannot attach schema '" + schema + "' (" + location +
                                 "): " + sqlite3_errmsg(db));
}

bool validSchemaName(const std::string& schema, bool file) {
    if (schema.empty() || equalsIgnoreCase(schema, "main") || equalsIgnoreCase(schema, "temp"))
        return false;
    if (file) {
        for (const char c : schema) {
            if (c == '/' || c == '.' || c == '\\' || c == '\0')
                return false;
        }
    }
    return true;
}

std::atomic<std::uint64_t> nextInstance{1};

} // namespace

DatabaseView::DatabaseView(sqlite3* db, std::string name, std::vector<std::string> schemas,
                           std::uint64_t generation)
    : db_(db), name_(std::move(name)), schemas_(std::move(schemas)), generation_(generation) {}

DatabaseView::~DatabaseView() {
    sqlite3_close_v2(db_);
}

std::optional<std::string> DatabaseView::sqliteSchema(std::string_view schema) const {
    if (equalsIgnoreCase(schema, "dbo"))
        return std::string("main");
    for (const std::string& s : schemas_) {
        if (equalsIgnoreCase(s, schema))
            return s;
    }
    return std::nullopt;
}

std::vector<CatalogEntry> DatabaseView::defaultCatalog() const {
    std::vector<CatalogEntry> rows;
    std::vector<std::pair<std::string, std::string>> schemas = {{"dbo", "main"}};
    for (const std::string& s : schemas_)
        schemas.emplace_back(s, s);
    for (const auto& [schema, sqliteName] : schemas) {
        const std::string sql = "SELECT type, name FROM " + quoteIdentifier(sqliteName) +
                                ".sqlite_master WHERE type IN ('table', 'view')";
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_));
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto text = [&](int col) {
                const auto* p = sqlite3_column_text(stmt, col);
                return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
            };
            CatalogEntry e;
            e.schema = schema;
            e.name = text(1);
            if (text(0) == "view")
                e.type = "VIEW";
            else if (asciiLower(e.name).rfind("sqlite_", 0) == 0)
                e.type = "SYSTEM TABLE";
            else
                e.type = "TABLE";
            rows.push_back(std::move(e));
        }
        sqlite3_finalize(stmt);
    }
    // sp_tables orders by type, then owner, then name, under the case-insensitive collation.
    std::stable_sort(rows.begin(), rows.end(), [](const CatalogEntry& a, const CatalogEntry& b) {
        return std::make_tuple(a.type, asciiLower(a.schema), asciiLower(a.name)) <
               std::make_tuple(b.type, asciiLower(b.schema), asciiLower(b.name));
    });
    return rows;
}

Databases::Databases() : instance_(nextInstance++) {}

Databases::~Databases() {
    for (auto& db : databases_)
        sqlite3_close_v2(db->anchor);
}

const Databases::Database* Databases::lookup(std::string_view name) const {
    for (const auto& db : databases_) {
        if (equalsIgnoreCase(db->name, name))
            return db.get();
    }
    return nullptr;
}

Databases::Database& Databases::get(const std::string& name) {
    const Database* db = lookup(name);
    if (!db)
        throw std::runtime_error("no database named '" + name + "'");
    return const_cast<Database&>(*db);
}

void Databases::attach(Database& db, const Schema& schema) {
    attachTo(db.anchor, schema.location, schema.name);
    db.schemas.push_back(schema);
    ++db.generation;
}

void Databases::add(const std::string& name, const std::string& sqlitePath) {
    std::lock_guard lock(mutex_);
    if (name.empty())
        throw std::runtime_error("a database needs a name");
    if (lookup(name))
        throw std::runtime_error("database '" + name + "' is already there");
    auto db = std::make_unique<Database>();
    db->name = name;
    db->memory = sqlitePath == ":memory:";
    Schema dbo{"dbo", sqlitePath};
    if (db->memory) {
        dbo.location = "file:/tdsserver-" + std::to_string(instance_) + "-" +
                       std::to_string(memoryCounter_++) + "?vfs=memdb";
    } else {
        const std::filesystem::path path(sqlitePath);
        db->extension = path.extension().string();
        db->stem = (path.parent_path() / path.stem()).string();
    }
    db->anchor = openConnection(dbo.location,
                                SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    db->schemas.push_back(dbo);
    try {
        if (!db->memory) {
            // Sibling files "x.<schema>.sqlite" are that database's other schemas.
            const std::filesystem::path path(sqlitePath);
            const std::filesystem::path dir =
                path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
            const std::string prefix = path.stem().string() + ".";
            std::vector<Schema> siblings;
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
                const std::string file = entry.path().filename().string();
                if (!entry.is_regular_file() ||
                    file.size() <= prefix.size() + db->extension.size() ||
                    file.compare(0, prefix.size(), prefix) != 0 ||
                    entry.path().extension().string() != db->extension)
                    continue;
                const std::string schema =
                    file.substr(prefix.size(), file.size() - prefix.size() - db->extension.size());
                if (validSchemaName(schema, true) && !equalsIgnoreCase(schema, "dbo"))
                    siblings.push_back({schema, entry.path().string()});
            }
            std::sort(siblings.begin(), siblings.end(),
                      [](const Schema& a, const Schema& b) { return a.name < b.name; });
            for (const Schema& s : siblings)
                attach(*db, s);
        }
    } catch (...) {
        sqlite3_close_v2(db->anchor);
        throw;
    }
    databases_.push_back(std::move(db));
}

void Databases::execSql(const std::string& database, const std::string& sql,
                        const std::string& schema) {
    std::lock_guard lock(mutex_);
    Database& db = get(database);
    const Schema* target = nullptr;
    for (const Schema& s : db.schemas) {
        if (equalsIgnoreCase(s.name, schema))
            target = &s;
    }
    if (!target) {
        if (!validSchemaName(schema, !db.memory))
            throw std::runtime_error("'" + schema + "' cannot name a schema");
        Schema created{schema, {}};
        if (db.memory)
            created.location = "file:/tdsserver-" + std::to_string(instance_) + "-" +
                               std::to_string(memoryCounter_++) + "?vfs=memdb";
        else
            created.location = db.stem + "." + schema + db.extension;
        attach(db, created);
        target = &db.schemas.back();
    }
    sqlite3* conn = openConnection(target->location, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    char* error = nullptr;
    const int rc = sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close_v2(conn);
    if (rc != SQLITE_OK)
        throw std::runtime_error("SQLite error in " + database + "." + schema + ": " + message);
    ++db.generation; // the catalogue may have changed
}

void Databases::setCatalog(const std::string& database,
                           std::optional<std::vector<CatalogEntry>> rows) {
    std::lock_guard lock(mutex_);
    get(database).catalog = std::move(rows);
}

std::optional<std::string> Databases::find(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const Database* db = lookup(name);
    return db ? std::optional<std::string>(db->name) : std::nullopt;
}

std::optional<std::string> Databases::defaultDatabase() const {
    std::lock_guard lock(mutex_);
    if (databases_.empty())
        return std::nullopt;
    return databases_.front()->name;
}

std::vector<std::string> Databases::names() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& db : databases_)
        out.push_back(db->name);
    return out;
}

std::unique_ptr<DatabaseView> Databases::open(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Database* db = lookup(name);
    if (!db)
        throw std::runtime_error("no database named '" + name + "'");
    sqlite3* conn =
        openConnection(db->schemas.front().location, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    std::vector<std::string> schemas;
    try {
        for (std::size_t i = 1; i < db->schemas.size(); ++i) {
            attachTo(conn, db->schemas[i].location, db->schemas[i].name);
            schemas.push_back(db->schemas[i].name);
        }
    } catch (...) {
        sqlite3_close_v2(conn);
        throw;
    }
    return std::make_unique<DatabaseView>(conn, db->name, std::move(schemas), db->generation);
}

bool Databases::stale(const DatabaseView& view) const {
    std::lock_guard lock(mutex_);
    const Database* db = lookup(view.name());
    return db && db->generation != view.generation();
}

std::optional<std::vector<CatalogEntry>> Databases::catalogOverride(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Database* db = lookup(name);
    return db ? db->catalog : std::nullopt;
}

} // namespace tdsserver
