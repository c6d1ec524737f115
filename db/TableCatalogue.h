#pragma once

#include "db/Connection.h"
#include "db/ConnectionSettings.h"
#include "db/Progress.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <vector>

namespace db {

// One listed table. The list shows the name alone; the schema stays beside it so that the
// export reads the table that was picked, also when another schema holds one of the same name.
struct TableEntry {
    QString schema;
    QString name;

    friend bool operator==(const TableEntry&, const TableEntry&) = default;
};

// Where the table listing puts its results: the table page's list, or anything else.
class TableListSink {
public:
    virtual ~TableListSink() = default;
    // The catalogue is open; the list is about to be filled from the start.
    virtual void clear() = 0;
    virtual void append(const TableEntry& entry) = 0;
};

// Whether a catalogue row is listed: its type is exactly "TABLE" and its upper-cased name holds
// no "SYS" anywhere.
bool isListedTable(const QString& tableType, const QString& tableName);

// How the entries are shown, in their order: a name that stands more than once is shown with its
// schema ("sales.Customers"), so that the entries can be told apart; the others alone.
QStringList shownNames(const std::vector<TableEntry>& entries);

} // namespace db

namespace MSSQL {

// Fills `sink` with the user tables of the database that `settings` log in to, in the order the
// server's catalogue delivers them (nothing sorts them). Opens its own connection with the
// mixed-case connection string and closes it before returning. `progress` is served once for
// every catalogue row of type "TABLE", listed or not, before it is looked at; the number of
// rows is not known beforehand. Failures throw db::Error: one before the catalogue is open
// leaves the sink untouched, one while its rows are read leaves the entries appended so far.
void ListTables(const db::ConnectionSettings& settings, db::TableListSink& sink,
                db::Progress& progress = db::noProgress(),
                std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout,
                std::chrono::seconds queryTimeout = db::kDefaultQueryTimeout);

// The same, collected: for callers that have no list to fill and no window to keep alive.
std::vector<db::TableEntry>
ListTables(const db::ConnectionSettings& settings,
           std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout,
           std::chrono::seconds queryTimeout = db::kDefaultQueryTimeout);

// The first table of the catalogue named exactly `name`, whatever the list's rule would hide: a
// name typed by the user is their explicit choice. Any row of type "TABLE" (a user table)
// counts; views and system tables do not. Empty when there is none; failures throw db::Error.
std::optional<db::TableEntry>
FindTable(const db::ConnectionSettings& settings, const QString& name,
          std::chrono::seconds loginTimeout = db::kDefaultLoginTimeout,
          std::chrono::seconds queryTimeout = db::kDefaultQueryTimeout);

} // namespace MSSQL
