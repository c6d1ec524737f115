#include "db/TableCatalogue.h"

#include "db/ConnectionString.h"
#include "db/Error.h"

#include <algorithm>
#include <array>

namespace db {

bool isListedTable(const QString& tableType, const QString& tableName) {
    return tableType == QLatin1String("TABLE") &&
           !tableName.toUpper().contains(QLatin1String("SYS"));
}

} // namespace db

namespace MSSQL {

void ListTables(const db::ConnectionSettings& settings, db::TableListSink& sink,
                db::Progress& progress, std::chrono::seconds loginTimeout,
                std::chrono::seconds queryTimeout) {
    db::Connection connection =
        db::Connection::open(db::connectionString(settings, db::ConnectionStringForm::MixedCase),
                             loginTimeout, queryTimeout);
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

    sink.clear();
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
        if (db::isListedTable(type, name)) {
            sink.append(db::TableEntry{schema, name});
        }
    }
    progress.end();
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

} // namespace MSSQL
