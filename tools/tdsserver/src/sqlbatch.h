#pragma once

// The T-SQL this server understands, parsed from a batch: SELECT * FROM <object> [alias] (with
// the base types of sql_variant columns before the *),
// SELECT @@TEXTSIZE, SET <option> ..., USE <database>, EXEC <procedure> [params] and the
// transaction statements. Parsing covers the whole batch before anything runs, as SQL Server
// compiles a batch before executing it, so a syntax error anywhere means that no statement of the
// batch runs.

#include "tdsserver/server.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tdsserver {

// A name of up to three parts, outermost first: [database.][schema.]object.
struct ObjectName {
    std::vector<std::string> parts;
    // The name as SQL Server shows it in messages: the parts unquoted, joined by ".".
    std::string display() const;
};

// SELECT [SQL_VARIANT_PROPERTY(<column>, 'BaseType'), ...] * FROM <object>: the base type of
// each named column's value, as an unnamed sql_variant column, comes before the table's columns.
struct SelectAll {
    ObjectName table;
    std::vector<std::string> baseTypeOf;
};

// SELECT @@TEXTSIZE (the one session variable asked for on its own).
struct SelectVariable {
    std::string name; // lower case, without "@@"
};

struct SetOption {
    std::string option;    // lower case: "fmtonly", "textsize", "transaction", ...
    std::string arguments; // lower case, blank separated: "on", "isolation level read committed"
};

struct UseDatabase {
    std::string database;
};

// BEGIN TRAN[SACTION], COMMIT and ROLLBACK [TRAN[SACTION] | WORK], with an optional name; also
// "IF @@TRANCOUNT > 0 COMMIT" and "... ROLLBACK", which end a transaction only where one runs.
struct Transaction {
    enum class Kind { Begin, Commit, Rollback };
    Kind kind = Kind::Begin;
    bool ifAny = false;
};

struct ExecProcedure {
    ObjectName procedure;
    std::vector<RpcParam> params;
};

struct Statement {
    int line = 1;
    std::variant<SelectAll, SelectVariable, SetOption, UseDatabase, ExecProcedure, Transaction>
        what;
};

struct SqlError {
    int number = 102;
    int severity = 15;
    std::string message;
    int line = 1;
};

struct ParsedBatch {
    std::vector<Statement> statements;
    std::vector<SqlError> errors; // when not empty, the batch must not run
};

ParsedBatch parseBatch(std::string_view sql);

// Whether name matches a LIKE pattern of sp_tables: % any run, _ one character, [abc] and [a-z]
// sets, [^abc] negated; compared without regard to ASCII case.
bool likeMatch(std::string_view name, std::string_view pattern);

} // namespace tdsserver
