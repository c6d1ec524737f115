// One client connection: the login, then requests answered one at a time until the client
// leaves. Results stream row by row from SQLite into packets; between packets the session looks
// for a cancel, so that a client can stop a long result.

#include "channel.h"
#include "columns.h"
#include "login.h"
#include "rpc.h"
#include "sqlbatch.h"
#include "state.h"
#include "text.h"
#include "tls.h"
#include "tokens.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>

namespace tdsserver {
namespace {

constexpr std::uint16_t kCmdSelect = 0xC1;
constexpr std::uint16_t kColumnFlags = 0x0009; // nullable, updatability unknown
constexpr std::string_view kInitialDatabase = "master";

// How a statement ended, when it did not end normally the session stops the request.
enum class Outcome { Done, Failed, Cancelled };

struct ResultColumn {
    std::string name;
    ColumnType type;
    ColumnOrigin origin = {};
};

constexpr std::array<std::string_view, 38> kSetOptions = {"ansi_defaults",
                                                          "ansi_null_dflt_off",
                                                          "ansi_null_dflt_on",
                                                          "ansi_nulls",
                                                          "ansi_padding",
                                                          "ansi_warnings",
                                                          "arithabort",
                                                          "arithignore",
                                                          "concat_null_yields_null",
                                                          "context_info",
                                                          "cursor_close_on_commit",
                                                          "datefirst",
                                                          "dateformat",
                                                          "deadlock_priority",
                                                          "fips_flagger",
                                                          "fmtonly",
                                                          "forceplan",
                                                          "identity_insert",
                                                          "implicit_transactions",
                                                          "language",
                                                          "lock_timeout",
                                                          "no_browsetable",
                                                          "nocount",
                                                          "noexec",
                                                          "numeric_roundabort",
                                                          "offsets",
                                                          "parseonly",
                                                          "query_governor_cost_limit",
                                                          "quoted_identifier",
                                                          "remote_proc_transactions",
                                                          "rowcount",
                                                          "showplan_all",
                                                          "showplan_text",
                                                          "showplan_xml",
                                                          "statistics",
                                                          "textsize",
                                                          "transaction",
                                                          "xact_abort"};

std::string describe(const RpcRecord& r) {
    std::string out = r.procedure + "(";
    for (std::size_t i = 0; i < r.params.size(); ++i) {
        if (i)
            out += ", ";
        out += r.params[i].name.empty() ? "" : r.params[i].name + "=";
        out += r.params[i].isNull ? "NULL" : "'" + r.params[i].value + "'";
    }
    return out + ")";
}

// The last part of a procedure name, lower case: "master.dbo.SP_TABLES" is sp_tables.
std::string procedureKey(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    std::string last = dot == std::string::npos ? name : name.substr(dot + 1);
    if (last.size() >= 2 && last.front() == '[' && last.back() == ']')
        last = last.substr(1, last.size() - 2);
    return asciiLower(last);
}

class Session {
public:
    Session(std::shared_ptr<Server::State> state, int fd, std::uint16_t spid,
            std::shared_ptr<const TlsContext> tls)
        : s_(std::move(state)), ch_(fd, spid), tls_(std::move(tls)) {}

    void run(bool neverAnswer) {
        try {
            while (auto message = ch_.readMessage()) {
                if (neverAnswer || s_->stopping)
                    continue;
                if (!handle(*message))
                    return;
            }
        } catch (const ConnectionLost&) {
        } catch (const std::exception& e) {
            // A broken request, or a database that can no longer be opened: this connection
            // ends, the server and its other connections go on.
            s_->log(std::string("closing a connection: ") + e.what());
        }
    }

private:
    bool handle(const Message& m) {
        if (!loggedIn_) {
            if (m.type == packet::kPreLogin && ch_.handshaking()) {
                try {
                    ch_.continueHandshake(m.payload);
                } catch (const ConnectionLost& e) {
                    s_->log(std::string("closing a connection: ") + e.what());
                    throw;
                }
                return true;
            }
            if (m.type == packet::kPreLogin && !wire_)
                return answerPreLogin(m);
            if (m.type == packet::kLogin7) {
                if (loginNeedsTls() && !ch_.lastMessageEncrypted()) {
                    s_->log("closing a connection: its login came in clear, TLS was due");
                    return false;
                }
                return answerLogin(m);
            }
            return false;
        }
        switch (m.type) {
        case packet::kSqlBatch:
            answerBatch(m);
            return true;
        case packet::kRpc:
            answerRpc(m);
            return true;
        case packet::kAttention:
            // The request already ended; the client still waits for the acknowledgement.
            countAttention();
            ch_.beginMessage(packet::kReply);
            writeDone(ch_, tds_, token::kDone, done::kAttention, 0, 0);
            ch_.endMessage();
            return true;
        case packet::kTransactionManager:
            ch_.beginMessage(packet::kReply);
            answerTransactionManager(m);
            ch_.endMessage();
            return true;
        default:
            ch_.beginMessage(packet::kReply);
            sendError(ServerMessage{50000, 1, 16,
                                    "This server does not support requests of type " +
                                        std::to_string(m.type) + ".",
                                    "", 1},
                      token::kDone, 0);
            ch_.endMessage();
            return true;
        }
    }

    void countAttention() {
        std::lock_guard lock(s_->recordsMutex);
        ++s_->attentions;
    }

    // ---- login ------------------------------------------------------------------------------

    Config::Encryption encryption() const {
        return tls_ ? s_->config.encryption : Config::Encryption::None;
    }

    // TLS once agreed is not optional. A client that sent no PRELOGIN at all is taken as one
    // that cannot encrypt, which a server with encryption on turns away.
    bool loginNeedsTls() const {
        const Wire wire =
            wire_ ? *wire_ : agreeEncryption(encryption(), encrypt::kNotSupported).wire;
        return wire != Wire::Clear;
    }

    bool answerPreLogin(const Message& m) {
        // A client that names no encryption is taken as one that cannot encrypt.
        const EncryptionAgreement agreed = agreeEncryption(
            encryption(), preLoginEncryption(m.payload).value_or(encrypt::kNotSupported));
        ch_.beginMessage(packet::kReply);
        ch_.put(preLoginReply(agreed.answer));
        ch_.endMessage();
        wire_ = agreed.wire;
        if (agreed.wire == Wire::End) {
            s_->log("closing a connection: the client and the server disagree on encryption");
            return false;
        }
        if (agreed.wire != Wire::Clear)
            ch_.beginTls(tls_, agreed.wire == Wire::LoginOnly);
        return true;
    }

    bool answerLogin(const Message& m) {
        pause(s_->loginDelayMs);
        LoginRecord rec = decodeLogin7(m.payload);
        rec.encrypted = ch_.lastMessageEncrypted();
        tds_ = agreedTdsVersion(rec.tdsVersion);
        const bool credentials = !s_->refuseLogins && equalsIgnoreCase(rec.user, s_->config.user) &&
                                 rec.password == s_->config.password;
        std::optional<std::string> database;
        bool databaseMissing = false;
        if (credentials) {
            database = rec.database.empty() ? s_->databases.defaultDatabase()
                                            : s_->databases.find(rec.database);
            databaseMissing = !rec.database.empty() && !database;
            if (database) {
                try {
                    view_ = s_->databases.open(*database);
                } catch (const std::exception& e) {
                    s_->log(std::string("cannot open the database: ") + e.what());
                    databaseMissing = true;
                }
            }
        }
        rec.accepted = credentials && !databaseMissing;
        s_->log("login user='" + rec.user + "' database='" + rec.database + "' app='" +
                rec.appName + "' host='" + rec.hostName + "'" + (rec.accepted ? "" : " refused"));
        {
            std::lock_guard lock(s_->recordsMutex);
            s_->logins.push_back(rec);
        }

        ch_.beginMessage(packet::kReply);
        const ServerMessage loginFailed{18456, 1, 14, "Login failed for user '" + rec.user + "'.",
                                        "",    1};
        if (!rec.accepted) {
            if (credentials && databaseMissing)
                writeError(ch_, tds_,
                           ServerMessage{4060, 1, 11,
                                         "Cannot open database \"" + rec.database +
                                             "\" requested by the login. The login failed.",
                                         "", 1});
            writeError(ch_, tds_, loginFailed);
            writeDone(ch_, tds_, token::kDone, done::kError, 0, 0);
            ch_.endMessage();
            return false; // SQL Server closes the connection after a failed login
        }

        database_ = database ? *database : std::string(kInitialDatabase);
        std::uint32_t size = rec.packetSize == 0 ? 4096 : rec.packetSize;
        size = std::clamp<std::uint32_t>(size, 512, 32767);
        writeEnvChange(ch_, 1, database_, kInitialDatabase);
        writeInfo(
            ch_, tds_,
            ServerMessage{5701, 2, 0, "Changed database context to '" + database_ + "'.", "", 1});
        writeCollationChange(ch_);
        writeEnvChange(ch_, 2, "us_english", "");
        writeInfo(ch_, tds_,
                  ServerMessage{5703, 1, 0, "Changed language setting to us_english.", "", 1});
        writeLoginAck(ch_, tds_);
        writeEnvChange(ch_, 4, std::to_string(size), "4096");
        writeDone(ch_, tds_, token::kDone, done::kFinal, 0, 0);
        ch_.endMessage();
        ch_.setPacketSize(size);
        loggedIn_ = true;
        return true;
    }

    // ---- requests ---------------------------------------------------------------------------

    void answerBatch(const Message& m) {
        const std::string sql = fromUtf16le(skipAllHeaders(m.payload, tds_));
        s_->log("batch: " + sql);
        {
            std::lock_guard lock(s_->recordsMutex);
            s_->batches.push_back(sql);
        }
        ch_.beginMessage(packet::kReply);
        const ParsedBatch batch = parseBatch(sql);
        if (!batch.errors.empty()) {
            for (const SqlError& e : batch.errors)
                writeError(ch_, tds_,
                           ServerMessage{e.number, 1, static_cast<std::uint8_t>(e.severity),
                                         e.message, "", e.line});
            writeDone(ch_, tds_, token::kDone, done::kError, 0, 0);
        } else if (batch.statements.empty()) {
            writeDone(ch_, tds_, token::kDone, done::kFinal, 0, 0);
        } else if (runStatements(batch.statements, false) == Outcome::Cancelled) {
            writeDone(ch_, tds_, token::kDone, done::kAttention, 0, 0);
        }
        ch_.endMessage();
    }

    void answerRpc(const Message& m) {
        const RpcRecord rpc = decodeRpc(skipAllHeaders(m.payload, tds_));
        s_->log("rpc: " + describe(rpc));
        {
            std::lock_guard lock(s_->recordsMutex);
            s_->rpcs.push_back(rpc);
        }
        ch_.beginMessage(packet::kReply);
        if (runProcedure(rpc.procedure, rpc.params, 1, 0) == Outcome::Cancelled)
            writeDone(ch_, tds_, token::kDone, done::kAttention, 0, 0);
        ch_.endMessage();
    }

    // Writes the statements' tokens; each statement ends with its DONE (DONEINPROC inside a
    // procedure). Stops at the first statement that fails or is cancelled.
    Outcome runStatements(const std::vector<Statement>& statements, bool inProc) {
        const std::uint8_t doneToken = inProc ? token::kDoneInProc : token::kDone;
        for (std::size_t i = 0; i < statements.size(); ++i) {
            const Statement& st = statements[i];
            const std::uint16_t more = (inProc || i + 1 < statements.size()) ? done::kMore : 0;
            Outcome outcome = Outcome::Done;
            if (const auto* sel = std::get_if<SelectAll>(&st.what))
                outcome = runSelect(*sel, st.line, doneToken, more);
            else if (std::holds_alternative<SelectVariable>(st.what))
                outcome = runSelectTextSize(doneToken, more);
            else if (const auto* set = std::get_if<SetOption>(&st.what))
                outcome = runSet(*set, st.line, doneToken, more);
            else if (const auto* use = std::get_if<UseDatabase>(&st.what))
                outcome = runUse(*use, st.line, doneToken, more);
            else if (const auto* exec = std::get_if<ExecProcedure>(&st.what))
                outcome = runProcedure(exec->procedure.display(), exec->params, st.line, more);
            else if (const auto* tr = std::get_if<Transaction>(&st.what))
                outcome = runTransaction(*tr, st.line, doneToken, more);
            if (outcome != Outcome::Done)
                return outcome;
        }
        return Outcome::Done;
    }

    void sendError(const ServerMessage& m, std::uint8_t doneToken, std::uint16_t more) {
        writeError(ch_, tds_, m);
        writeDone(ch_, tds_, doneToken, static_cast<std::uint16_t>(done::kError | more), 0, 0);
    }

    // ---- statements -------------------------------------------------------------------------

    Outcome runSet(const SetOption& set, int line, std::uint8_t doneToken, std::uint16_t more) {
        if (std::find(kSetOptions.begin(), kSetOptions.end(), set.option) == kSetOptions.end()) {
            sendError(ServerMessage{195, 1, 15,
                                    "'" + set.option + "' is not a recognized SET option.", "",
                                    line},
                      doneToken, more);
            return Outcome::Failed;
        }
        if (set.option == "fmtonly")
            fmtOnly_ = set.arguments == "on";
        if (set.option == "nocount")
            noCount_ = set.arguments == "on";
        if (set.option == "textsize") {
            // As SQL Server takes it: 0 is the default of 4096 bytes, -1 the largest.
            char* end = nullptr;
            const long long n = std::strtoll(set.arguments.c_str(), &end, 10);
            if (set.arguments.empty() || *end != '\0' || n < -1 || n > Config::kUnlimitedTextSize) {
                sendError(ServerMessage{102, 1, 15,
                                        "Incorrect syntax near '" + set.arguments + "'.", "", line},
                          doneToken, more);
                return Outcome::Failed;
            }
            // A server that holds its sessions to a text size (the fault) takes the statement
            // and keeps its size.
            if (!s_->holdTextSize)
                textSize_ = n == 0 ? 4096 : n == -1 ? Config::kUnlimitedTextSize : n;
        }
        writeDone(ch_, tds_, doneToken, more, 0, 0);
        return Outcome::Done;
    }

    // ---- transactions -----------------------------------------------------------------------
    // The data is read-only, so there is never anything to keep or undo; but a client learns of
    // each transaction it begins and ends, through ENVCHANGE from TDS 7.2 on, as SQL Server
    // tells it, and a nested BEGIN only counts.

    void beginTransaction() {
        if (tranCount_++ > 0)
            return;
        transaction_ = nextTransaction_++;
        if (!olderThan(tds_, kTds72))
            writeTransactionChange(ch_, 8, transaction_);
    }

    // Ends the transaction: a commit of the outermost level, or a rollback of all of them.
    void endTransaction(bool commit) {
        tranCount_ = commit ? tranCount_ - 1 : 0;
        if (tranCount_ > 0)
            return;
        if (!olderThan(tds_, kTds72))
            writeTransactionChange(ch_, commit ? 9 : 10, transaction_);
        transaction_ = 0;
    }

    Outcome runTransaction(const Transaction& tr, int line, std::uint8_t doneToken,
                           std::uint16_t more) {
        if (tr.kind == Transaction::Kind::Begin) {
            beginTransaction();
        } else if (tranCount_ > 0) {
            endTransaction(tr.kind == Transaction::Kind::Commit);
        } else if (!tr.ifAny) {
            const bool commit = tr.kind == Transaction::Kind::Commit;
            sendError(ServerMessage{commit ? 3902 : 3903, 1, 16,
                                    std::string("The ") + (commit ? "COMMIT" : "ROLLBACK") +
                                        " TRANSACTION request has no corresponding BEGIN "
                                        "TRANSACTION.",
                                    "", line},
                      doneToken, more);
            return Outcome::Failed;
        }
        writeDone(ch_, tds_, doneToken, more, 0, 0);
        return Outcome::Done;
    }

    // A transaction manager request: 5 begins a transaction, 7 commits and 8 rolls back, each
    // of those two beginning the next one when asked to. The rest (distributed transactions,
    // save points) is answered with DONE alone.
    void answerTransactionManager(const Message& m) {
        const std::string_view body = skipAllHeaders(m.payload, tds_);
        const auto byteAt = [&](std::size_t at) {
            return at < body.size() ? std::size_t{static_cast<unsigned char>(body[at])} : 0;
        };
        const std::size_t request = byteAt(0) | (byteAt(1) << 8);
        if (request == 5) {
            beginTransaction();
        } else if (request == 7 || request == 8) {
            // The transaction's name (B_VARCHAR), then the flags: 1 begins another.
            const std::size_t flagsAt = 2 + 1 + byteAt(2) * 2;
            if (tranCount_ > 0)
                endTransaction(request == 7);
            if (byteAt(flagsAt) & 1)
                beginTransaction();
        }
        writeDone(ch_, tds_, token::kDone, done::kFinal, 0, 0);
    }

    Outcome runUse(const UseDatabase& use, int line, std::uint8_t doneToken, std::uint16_t more) {
        const std::optional<std::string> name = s_->databases.find(use.database);
        std::unique_ptr<DatabaseView> view;
        if (name) {
            try {
                view = s_->databases.open(*name);
            } catch (const std::exception& e) {
                s_->log(std::string("cannot open the database: ") + e.what());
            }
        }
        if (!view) {
            sendError(ServerMessage{911, 1, 16,
                                    "Database '" + use.database +
                                        "' does not exist. Make sure that the name is entered "
                                        "correctly.",
                                    "", line},
                      doneToken, more);
            return Outcome::Failed;
        }
        const std::string old = database_;
        view_ = std::move(view);
        database_ = *name;
        writeEnvChange(ch_, 1, database_, old);
        writeInfo(ch_, tds_,
                  ServerMessage{5701, 2, 0, "Changed database context to '" + database_ + "'.", "",
                                line});
        writeDone(ch_, tds_, doneToken, more, 0, 0);
        return Outcome::Done;
    }

    // The session's view of its database, reopened when a test changed the database's schemas.
    DatabaseView* currentView() {
        if (view_ && s_->databases.stale(*view_))
            view_ = s_->databases.open(database_);
        return view_.get();
    }

    Outcome runSelect(const SelectAll& sel, int line, std::uint8_t doneToken, std::uint16_t more) {
        const auto invalidObject = [&] {
            sendError(ServerMessage{208, 1, 16,
                                    "Invalid object name '" + sel.table.display() + "'.", "", line},
                      doneToken, more);
            return Outcome::Failed;
        };
        const std::vector<std::string>& parts = sel.table.parts;
        DatabaseView* view = currentView();
        std::unique_ptr<DatabaseView> other;
        if (parts.size() == 3 && !equalsIgnoreCase(parts[0], database_)) {
            const auto name = s_->databases.find(parts[0]);
            if (!name)
                return invalidObject();
            other = s_->databases.open(*name);
            view = other.get();
        }
        if (!view)
            return invalidObject();
        const std::string schemaName = parts.size() >= 2 ? parts[parts.size() - 2] : "dbo";
        const std::optional<std::string> schema =
            view->sqliteSchema(schemaName.empty() ? "dbo" : schemaName);
        if (!schema)
            return invalidObject();

        std::string sql = "SELECT * FROM \"";
        for (const char c : *schema)
            sql += c == '"' ? std::string("\"\"") : std::string(1, c);
        sql += "\".\"";
        for (const char c : parts.back())
            sql += c == '"' ? std::string("\"\"") : std::string(1, c);
        sql += "\"";
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(view->handle(), sql.c_str(), static_cast<int>(sql.size()), &stmt,
                               nullptr) != SQLITE_OK) {
            const std::string message = sqlite3_errmsg(view->handle());
            sqlite3_finalize(stmt);
            if (message.find("no such table") != std::string::npos)
                return invalidObject();
            sendError(ServerMessage{50000, 1, 16, message, "", line}, doneToken, more);
            return Outcome::Failed;
        }
        struct Finalizer {
            sqlite3_stmt* s;
            ~Finalizer() { sqlite3_finalize(s); }
        } finalizer{stmt};

        const int count = sqlite3_column_count(stmt);
        // SQL_VARIANT_PROPERTY(<column>, 'BaseType') items come first, each an unnamed
        // sql_variant column of the named table column's base type.
        std::vector<int> baseTypeOf;
        std::vector<ResultColumn> columns;
        for (const std::string& wanted : sel.baseTypeOf) {
            int found = -1;
            for (int i = 0; i < count && found < 0; ++i) {
                const char* name = sqlite3_column_name(stmt, i);
                if (name && equalsIgnoreCase(name, wanted))
                    found = i;
            }
            if (found < 0) {
                sendError(
                    ServerMessage{207, 1, 16, "Invalid column name '" + wanted + "'.", "", line},
                    doneToken, more);
                return Outcome::Failed;
            }
            baseTypeOf.push_back(found);
            columns.push_back({"", columnTypeFor("sql_variant"), {}});
        }
        const int first = static_cast<int>(baseTypeOf.size());
        const std::string shownSchema = schemaName.empty() ? "dbo" : schemaName;
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(stmt, i);
            columns.push_back({name ? name : "", columnTypeFor(sqlite3_column_decltype(stmt, i)),
                               ColumnOrigin{shownSchema, parts.back()}});
        }
        writeColumns(columns);
        if (fmtOnly_) {
            writeDone(ch_, tds_, doneToken, more, kCmdSelect, 0);
            return Outcome::Done;
        }
        if (const Outcome o = beginRows(); o != Outcome::Done)
            return o;

        std::uint64_t rows = 0;
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_ROW) {
                sendError(ServerMessage{50000, 1, 16, sqlite3_errmsg(view->handle()), "", line},
                          doneToken, more);
                return Outcome::Failed;
            }
            std::string& out = ch_.buffer();
            const std::size_t rowStart = out.size();
            out.push_back(static_cast<char>(token::kRow));
            try {
                for (int p = 0; p < first; ++p) {
                    const int i = baseTypeOf[static_cast<std::size_t>(p)];
                    const std::optional<std::string> type = baseTypeName(
                        columns[static_cast<std::size_t>(first + i)].type, valueAt(stmt, i));
                    Value v;
                    if (type) {
                        v.kind = Value::Kind::Text;
                        v.bytes = *type;
                    }
                    appendValue(out, columns[static_cast<std::size_t>(p)].type, v,
                                ValueContext{textSize_, tds_, rows, p});
                }
                for (int i = 0; i < count; ++i)
                    appendValue(out, columns[static_cast<std::size_t>(first + i)].type,
                                valueAt(stmt, i), ValueContext{textSize_, tds_, rows, first + i});
            } catch (const ValueError& e) {
                out.resize(rowStart); // the row is not sent at all
                writeError(ch_, tds_, ServerMessage{e.number(), 1, 16, e.what(), "", line});
                writeDone(ch_, tds_, doneToken,
                          static_cast<std::uint16_t>(done::kError | countFlag() | more), kCmdSelect,
                          rows);
                return Outcome::Failed;
            }
            if (const Outcome o = sendRow(); o != Outcome::Done)
                return o;
            ++rows;
        }
        writeDone(ch_, tds_, doneToken, static_cast<std::uint16_t>(countFlag() | more), kCmdSelect,
                  rows);
        return Outcome::Done;
    }

    // One row, one unnamed int column: the session's text size. A setting of the session, not
    // data: the faults of results leave it alone.
    Outcome runSelectTextSize(std::uint8_t doneToken, std::uint16_t more) {
        const std::vector<ResultColumn> columns{{"", columnTypeFor("int"), {}}};
        writeColumns(columns, false);
        std::string& out = ch_.buffer();
        out.push_back(static_cast<char>(token::kRow));
        Value v;
        v.kind = Value::Kind::Integer;
        v.integer = textSize_;
        appendValue(out, columns[0].type, v, ValueContext{textSize_, tds_, 0, 0});
        writeDone(ch_, tds_, doneToken, static_cast<std::uint16_t>(countFlag() | more), kCmdSelect,
                  1);
        return Outcome::Done;
    }

    // SQL_VARIANT_PROPERTY(value, 'BaseType') of a column's value: a sql_variant's own base
    // type, the column's type for any other value (which becomes a variant of that type).
    static std::optional<std::string> baseTypeName(const ColumnType& column, const Value& v) {
        if (column.type == SqlType::Variant)
            return variantBaseTypeName(v);
        if (v.kind == Value::Kind::Null)
            return std::nullopt;
        return std::string(typeName(column.type));
    }

    static Value valueAt(sqlite3_stmt* stmt, int i) {
        Value v;
        switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
            v.kind = Value::Kind::Integer;
            v.integer = sqlite3_column_int64(stmt, i);
            break;
        case SQLITE_FLOAT:
            v.kind = Value::Kind::Real;
            v.real = sqlite3_column_double(stmt, i);
            break;
        case SQLITE_TEXT: {
            v.kind = Value::Kind::Text;
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            v.bytes = std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
            break;
        }
        case SQLITE_BLOB: {
            v.kind = Value::Kind::Blob;
            const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, i));
            const auto n = static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
            v.bytes = p ? std::string_view(p, n) : std::string_view();
            break;
        }
        default:
            break;
        }
        return v;
    }

    // ---- procedures -------------------------------------------------------------------------

    // Runs a procedure called by RPC or by EXEC; writes everything up to its DONEPROC, whose
    // status carries `more` when statements of the batch follow.
    Outcome runProcedure(const std::string& name, const std::vector<RpcParam>& params, int line,
                         std::uint16_t more) {
        const std::string key = procedureKey(name);
        const auto param = [&](std::size_t i) -> const RpcParam* {
            return i < params.size() && !params[i].isNull ? &params[i] : nullptr;
        };
        if (key == "sp_tables")
            return spTables(params, line, more);
        if (key == "sp_executesql" && param(0))
            return runSql(param(0)->value, std::nullopt, false, more);
        // Prepared statements, as the ODBC driver uses them for SQLPrepare and SQLExecute.
        if ((key == "sp_prepexec" || key == "sp_prepare") && param(2)) {
            const std::int32_t handle = nextHandle_++;
            const Outcome o = runSql(param(2)->value, handle, key == "sp_prepare", more);
            if (o == Outcome::Done)
                prepared_[handle] = param(2)->value;
            return o;
        }
        if (key == "sp_execute" && param(0)) {
            const auto it = prepared_.find(std::atoi(param(0)->value.c_str()));
            if (it == prepared_.end()) {
                sendError(ServerMessage{8179, 4, 16,
                                        "Could not find prepared statement with handle " +
                                            param(0)->value + ".",
                                        "", line},
                          token::kDoneProc, more);
                return Outcome::Failed;
            }
            const std::string sql = it->second;
            return runSql(sql, std::nullopt, false, more);
        }
        if (key == "sp_unprepare" && param(0)) {
            prepared_.erase(std::atoi(param(0)->value.c_str()));
            writeReturnStatus(ch_, 0);
            writeDone(ch_, tds_, token::kDoneProc, more, 0, 0);
            return Outcome::Done;
        }
        sendError(ServerMessage{2812, 62, 16, "Could not find stored procedure '" + name + "'.", "",
                                line},
                  token::kDoneProc, more);
        return Outcome::Failed;
    }

    // Runs statement text inside a procedure; `handle` is returned as the procedure's first
    // (output) parameter; `describeOnly` sends the results' columns without rows.
    Outcome runSql(const std::string& sql, std::optional<std::int32_t> handle, bool describeOnly,
                   std::uint16_t more) {
        const ParsedBatch batch = parseBatch(sql);
        if (!batch.errors.empty()) {
            for (const SqlError& e : batch.errors)
                writeError(ch_, tds_,
                           ServerMessage{e.number, 1, static_cast<std::uint8_t>(e.severity),
                                         e.message, "", e.line});
            writeDone(ch_, tds_, token::kDoneProc, static_cast<std::uint16_t>(done::kError | more),
                      0, 0);
            return Outcome::Failed;
        }
        const bool savedFmtOnly = fmtOnly_;
        if (describeOnly)
            fmtOnly_ = true;
        const Outcome o = runStatements(batch.statements, true);
        fmtOnly_ = savedFmtOnly;
        if (o == Outcome::Cancelled)
            return o;
        if (o == Outcome::Failed) {
            writeDone(ch_, tds_, token::kDoneProc, static_cast<std::uint16_t>(done::kError | more),
                      0, 0);
            return o;
        }
        writeReturnStatus(ch_, 0);
        if (handle)
            writeReturnValue(ch_, tds_, "@handle", *handle);
        writeDone(ch_, tds_, token::kDoneProc, more, 0, 0);
        return Outcome::Done;
    }

    Outcome spTables(const std::vector<RpcParam>& params, int line, std::uint16_t more) {
        static constexpr std::array<std::string_view, 5> kNames = {
            "@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fusepattern"};
        std::array<std::optional<std::string>, 5> args;
        for (std::size_t i = 0; i < params.size(); ++i) {
            std::size_t slot = i;
            if (!params[i].name.empty()) {
                const std::string lower = asciiLower(params[i].name);
                slot = static_cast<std::size_t>(std::find(kNames.begin(), kNames.end(), lower) -
                                                kNames.begin());
            }
            if (slot >= kNames.size()) {
                sendError(ServerMessage{8145, 2, 16,
                                        params[i].name + " is not a parameter for procedure "
                                                         "sp_tables.",
                                        "sp_tables", line},
                          token::kDoneProc, more);
                return Outcome::Failed;
            }
            if (!params[i].isNull)
                args[slot] = params[i].value;
        }
        const bool usePattern = !args[4] || (*args[4] != "0");
        const auto matches = [&](const std::string& value, const std::optional<std::string>& p) {
            if (!p)
                return true;
            return usePattern ? likeMatch(value, *p) : equalsIgnoreCase(value, *p);
        };
        std::vector<std::string> types;
        if (args[3]) {
            std::string_view list = *args[3];
            while (!list.empty()) {
                const std::size_t comma = list.find(',');
                std::string item(list.substr(0, comma));
                item.erase(std::remove(item.begin(), item.end(), '\''), item.end());
                while (!item.empty() && item.front() == ' ')
                    item.erase(0, 1);
                while (!item.empty() && item.back() == ' ')
                    item.pop_back();
                if (!item.empty())
                    types.push_back(item);
                if (comma == std::string_view::npos)
                    break;
                list.remove_prefix(comma + 1);
            }
        }

        std::vector<CatalogEntry> entries;
        bool listDatabases = false;
        if (args[2] && *args[2] == "%" && args[0].value_or("").empty() &&
            args[1].value_or("").empty()) {
            listDatabases = true; // ODBC's way of asking for the catalogues
        } else if (args[2] && !args[2]->empty() && !equalsIgnoreCase(*args[2], database_)) {
            sendError(ServerMessage{15250, 1, 16,
                                    "The database name component of the object qualifier must "
                                    "be the name of the current database.",
                                    "sp_tables", line},
                      token::kDoneProc, more);
            return Outcome::Failed;
        } else if (auto fixed = s_->databases.catalogOverride(database_)) {
            entries = std::move(*fixed);
        } else if (DatabaseView* view = currentView()) {
            entries = view->defaultCatalog();
        }

        const ColumnType sysname{SqlType::NVarChar, 128, 0, 0};
        writeColumns({{"TABLE_QUALIFIER", sysname},
                      {"TABLE_OWNER", sysname},
                      {"TABLE_NAME", sysname},
                      {"TABLE_TYPE", ColumnType{SqlType::VarChar, 32, 0, 0}},
                      {"REMARKS", ColumnType{SqlType::VarChar, 254, 0, 0}}});
        std::vector<std::array<std::optional<std::string>, 4>> rows;
        if (listDatabases) {
            for (const std::string& db : s_->databases.names())
                rows.push_back({db, std::nullopt, std::nullopt, std::nullopt});
        } else {
            for (const CatalogEntry& e : entries) {
                const bool typeOk =
                    types.empty() ||
                    std::any_of(types.begin(), types.end(),
                                [&](const std::string& t) { return equalsIgnoreCase(t, e.type); });
                if (typeOk && matches(e.name, args[0]) && matches(e.schema, args[1]))
                    rows.push_back({database_, e.schema, e.name, e.type});
            }
        }
        if (const Outcome o = beginRows(); o != Outcome::Done)
            return o;
        std::uint64_t sent = 0;
        for (const auto& r : rows) {
            std::string& out = ch_.buffer();
            out.push_back(static_cast<char>(token::kRow));
            for (std::size_t i = 0; i < 4; ++i) {
                Value v;
                if (r[i]) {
                    v.kind = Value::Kind::Text;
                    v.bytes = *r[i];
                }
                const ColumnType t = i == 3 ? ColumnType{SqlType::VarChar, 32, 0, 0} : sysname;
                try {
                    appendValue(out, t, v);
                } catch (const ValueError&) {
                    // Longer than sysname: SQL Server cannot hold such a name either.
                    appendValue(out, t, Value{});
                }
            }
            appendValue(out, ColumnType{SqlType::VarChar, 254, 0, 0}, Value{});
            if (const Outcome o = sendRow(); o != Outcome::Done)
                return o;
            ++sent;
        }
        writeDone(ch_, tds_, token::kDoneInProc,
                  static_cast<std::uint16_t>(countFlag() | done::kMore), kCmdSelect, sent);
        writeReturnStatus(ch_, 0);
        writeDone(ch_, tds_, token::kDoneProc, more, 0, 0);
        return Outcome::Done;
    }

    // ---- result streaming -------------------------------------------------------------------

    // `faults`: the test's faults apply from here on (not to a session's own settings).
    void writeColumns(const std::vector<ResultColumn>& columns, bool faults = true) {
        std::string out;
        out.push_back(static_cast<char>(token::kColMetadata));
        out.push_back(static_cast<char>(columns.size() & 0xFF));
        out.push_back(static_cast<char>(columns.size() >> 8));
        for (const ResultColumn& c : columns) {
            out.append(olderThan(tds_, kTds72) ? 2 : 4, '\0'); // user type
            out.push_back(static_cast<char>(kColumnFlags & 0xFF));
            out.push_back(static_cast<char>(kColumnFlags >> 8));
            appendTypeInfo(out, c.type, tds_, c.origin);
            appendBVarchar(out, c.name);
        }
        ch_.put(out);
        rowsInResult_ = 0;
        if (faults)
            checkDrop();
    }

    // Applies the slow-answer fault before a result's first row.
    Outcome beginRows() {
        const std::int64_t delay = s_->firstRowDelayMs;
        if (delay <= 0)
            return Outcome::Done;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                return Outcome::Done;
            if (s_->stopping)
                throw ConnectionLost("server stopping");
            const auto slice = std::min<std::chrono::milliseconds>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                    std::chrono::milliseconds(1),
                std::chrono::milliseconds(50));
            if (ch_.waitForInput(slice)) {
                if (ch_.attentionArrived()) {
                    countAttention();
                    return Outcome::Cancelled;
                }
                if (ch_.inputClosed())
                    throw ConnectionLost("client left");
                std::this_thread::sleep_for(slice);
            }
        }
    }

    // Accounts for the row just written into the channel's buffer, and sends full packets.
    Outcome sendRow() {
        ++rowsInResult_;
        checkDrop();
        ch_.flushFull();
        if (ch_.packetsSent() != packetsSeen_) {
            packetsSeen_ = ch_.packetsSent();
            pause(s_->packetDelayMs);
            if (ch_.attentionArrived()) {
                countAttention();
                return Outcome::Cancelled;
            }
        }
        return Outcome::Done;
    }

    void checkStall() {
        if (s_->stallAfterRows < 0 || rowsInResult_ != s_->stallAfterRows)
            return;
        s_->log("stalling after " + std::to_string(rowsInResult_) + " rows");
        while (s_->stallAfterRows == rowsInResult_) {
            if (s_->stopping)
                throw ConnectionLost("server stopping");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Sleeps `ms` milliseconds in short steps, so that stopping the server is not held up.
    void pause(std::int64_t ms) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (s_->stopping)
                throw ConnectionLost("server stopping");
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                deadline - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
        }
    }

    void checkDrop() {
        checkStall();
        const std::int64_t limit = s_->dropAfterRows;
        if (limit >= 0 && rowsInResult_ >= limit) {
            s_->log("dropping the connection after " + std::to_string(rowsInResult_) + " rows");
            ch_.dropConnection();
            throw ConnectionLost("dropped on purpose");
        }
    }

    std::shared_ptr<Server::State> s_;
    Channel ch_;
    std::shared_ptr<const TlsContext> tls_;
    std::optional<Wire> wire_; // set once the PRELOGIN has been answered
    bool loggedIn_ = false;
    std::string database_;
    std::unique_ptr<DatabaseView> view_;
    bool fmtOnly_ = false;
    std::int64_t textSize_ = s_->config.textSize;
    std::uint32_t tds_ = kTds74; // the version the login agreed on
    // SET NOCOUNT ON: the DONE of a result still carries its row count, marked as not to be used.
    bool noCount_ = false;
    int tranCount_ = 0;                      // @@TRANCOUNT
    std::uint64_t transaction_ = 0;          // the open transaction's descriptor
    std::uint64_t nextTransaction_ = 0x1000; // far from 0 and 1, which clients take for none

    std::uint16_t countFlag() const { return noCount_ ? 0 : done::kCount; }
    std::int64_t rowsInResult_ = 0;
    std::uint64_t packetsSeen_ = 0;
    std::map<std::int32_t, std::string> prepared_;
    std::int32_t nextHandle_ = 1;
};

} // namespace

void runSession(const std::shared_ptr<Server::State>& state, int fd, std::uint16_t spid,
                bool neverAnswer, std::shared_ptr<const TlsContext> tls) {
    Session session(state, fd, spid, std::move(tls));
    session.run(neverAnswer);
    // The client must learn at once that the session is over; the descriptor itself is closed
    // by the server once this thread has been joined.
    ::shutdown(fd, SHUT_RDWR);
}

} // namespace tdsserver
