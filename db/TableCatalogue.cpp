#include "db/TableCatalogue.h"

#include "db/ConnectionString.h"
#include "db/Error.h"
#include "db/Login.h"

#include <QHash>
#include <algorithm>
#include <array>

namespace db {

bool isListedTable(const QString& tableType, const QString& tableName) {
    return tableType == QLatin1String("TABLE") &&
           !tableName.toUpper().contains(QLatin1String("SYS"));
}

QStringList shownNames(const std::vector<TableEntry>& entries) {
    QHash<QString, int> count;
    for (const TableEntry& entry : entries) {
        ++count[entry.name];
    }
    QStringList shown;
    shown.reserve(qsizetype(entries.size()));
    for (const TableEntry& entry : entries) {
        shown << (count.value(entry.name) > 1 ? entry.schema + u'.' + entry.name : entry.name);
    }
    return shown;
}

} // namespace db

namespace MSSQL {

namespace {

// Walks the catalogue's rows of type "TABLE" in the order the server delivers them, serving
// `progress` before each is looked at; `opened` is called once the catalogue is open, and
// `take` returns false to stop early.
template <typename Opened, typename Take>
void walkTables(const db::ConnectionSettings& settings, db::Progress& progress,
                std::chrono::seconds loginTimeout, std::chrono::seconds queryTimeout,
                const Opened& opened, const Take& take) {
    db::Connection connection =
        db::logIn(settings, db::ConnectionStringForm::MixedCase, loginTimeout, queryTimeout);
    db::ResultSet rows = connection.tables();

    // Found by name, as ODBC names the catalogue's columns, and read in column order, which is
    // the only order ODBC promises that values can be read in.
    struct Wanted {
        int column;
        QString* value;
    };
    QString schema;
    QString name;
    QString type;
    std::array<Wanted, 3> wanted{Wanted{rows.columnIndex(QStringLiteral("TABLE_SCHEM")), &schema},
                                 Wanted{rows.columnIndex(QStringLiteral("TABLE_NAME")), &name},
                                 Wanted{rows.columnIndex(QStringLiteral("TABLE_TYPE")), &type}};
    for (const Wanted& w : wanted) {
        if (w.column < 0) {
            throw db::Error(QStringLiteral("The driver's table catalogue lacks one of the columns "
                                           "TABLE_SCHEM, TABLE_NAME and TABLE_TYPE."));
        }
    }
    std::sort(wanted.begin(), wanted.end(),
              [](const Wanted& a, const Wanted& b) { return a.column < b.column; });

    opened();
    progress.start(0);
    while (rows.next()) {
        for (const Wanted& w : wanted) {
            w.value->clear();
            rows.appendText(w.column, *w.value);
        }
        if (type != QLatin1String("TABLE")) {
            continue;
        }
        progress.serve();
        if (!take(db::TableEntry{schema, name})) {
            return;
        }
    }
    progress.end();
}

} // namespace

void ListTables(const db::ConnectionSettings& settings, db::TableListSink& sink,
                db::Progress& progress, std::chrono::seconds loginTimeout,
                std::chrono::seconds queryTimeout) {
    walkTables(
        settings, progress, loginTimeout, queryTimeout, [&] { sink.clear(); },
        [&](const db::TableEntry& entry) {
            if (db::isListedTable(QStringLiteral("TABLE"), entry.name)) {
                sink.append(entry);
            }
            return true;
        });
}

std::vector<db::TableEntry> ListTables(const db::ConnectionSettings& settings,
                                       std::chrono::seconds loginTimeout,
                                       std::chrono::seconds queryTimeout) {
    struct Collector final : db::TableListSink {
        std::vector<db::TableEntry> entries;
        void clear() override { entries.clear(); }
        void append(const db::TableEntry& entry) override { entries.push_back(entry); }
    } collector;
    ListTables(settings, collector, db::noProgress(), loginTimeout, queryTimeout);
    return std::move(collector.entries);
}

std::optional<db::TableEntry> FindTable(const db::ConnectionSettings& settings, const QString& name,
                                        std::chrono::seconds loginTimeout,
                                        std::chrono::seconds queryTimeout) {
    std::optional<db::TableEntry> found;
    walkTables(
        settings, db::noProgress(), loginTimeout, queryTimeout, [] {},
        [&](const db::TableEntry& entry) {
            if (entry.name != name) {
                return true;
            }
            found = entry;
            return false;
        });
    return found;
}

} // namespace MSSQL
