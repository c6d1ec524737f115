#include "sqlbatch.h"

#include "text.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tdsserver {
namespace {

enum class Kind { Word, Quoted, Number, String, Variable, Symbol, End };

struct Token {
    Kind kind = Kind::End;
    std::string value;   // identifier or literal with its quoting undone
    std::string written; // as it stands in the batch
    int line = 1;
};

constexpr std::array<std::string_view, 20> kStatementStarts = {
    "select", "set",  "use",   "exec",  "execute", "insert",   "update",
    "delete", "if",   "while", "begin", "commit",  "rollback", "declare",
    "create", "drop", "alter", "print", "return",  "with"};

constexpr std::array<std::string_view, 34> kReserved = {
    "select", "from",     "where", "order", "group", "by",     "having", "union", "join",
    "on",     "as",       "inner", "left",  "right", "outer",  "cross",  "into",  "values",
    "top",    "distinct", "and",   "or",    "not",   "null",   "is",     "in",    "like",
    "case",   "when",     "then",  "else",  "end",   "option", "for"};

bool isWordStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c >= 0x80;
}

bool isWordChar(unsigned char c) {
    return isWordStart(c) || (c >= '0' && c <= '9') || c == '@' || c == '$';
}

bool isKeyword(const Token& t, std::string_view keyword) {
    return t.kind == Kind::Word && equalsIgnoreCase(t.value, keyword);
}

bool inList(const Token& t, auto const& list) {
    if (t.kind != Kind::Word)
        return false;
    const std::string lower = asciiLower(t.value);
    return std::find(list.begin(), list.end(), lower) != list.end();
}

class Lexer {
public:
    explicit Lexer(std::string_view sql) : s_(sql) {}

    // Splits the whole batch; an unclosed quote or comment is reported as SQL Server does.
    std::vector<Token> run(std::vector<SqlError>& errors) {
        std::vector<Token> tokens;
        for (;;) {
            skipBlanks(errors);
            Token t;
            t.line = line_;
            if (i_ >= s_.size()) {
                tokens.push_back(t);
                return tokens;
            }
            const std::size_t start = i_;
            const auto c = static_cast<unsigned char>(s_[i_]);
            if ((c == 'N' || c == 'n') && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
                ++i_;
                if (!quoted('\'', t, errors))
                    return finish(tokens, t);
                t.kind = Kind::String;
            } else if (c == '\'') {
                if (!quoted('\'', t, errors))
                    return finish(tokens, t);
                t.kind = Kind::String;
            } else if (c == '[') {
                if (!quoted(']', t, errors))
                    return finish(tokens, t);
                t.kind = Kind::Quoted;
            } else if (c == '"') {
                if (!quoted('"', t, errors))
                    return finish(tokens, t);
                t.kind = Kind::Quoted;
            } else if (c == '@') {
                ++i_;
                while (i_ < s_.size() && isWordChar(static_cast<unsigned char>(s_[i_])))
                    ++i_;
                t.kind = Kind::Variable;
                t.value = std::string(s_.substr(start, i_ - start));
            } else if (isWordStart(c)) {
                while (i_ < s_.size() && isWordChar(static_cast<unsigned char>(s_[i_])))
                    ++i_;
                t.kind = Kind::Word;
                t.value = std::string(s_.substr(start, i_ - start));
            } else if ((c >= '0' && c <= '9') ||
                       (c == '.' && i_ + 1 < s_.size() && s_[i_ + 1] >= '0' && s_[i_ + 1] <= '9')) {
                number();
                t.kind = Kind::Number;
                t.value = std::string(s_.substr(start, i_ - start));
            } else {
                ++i_;
                t.kind = Kind::Symbol;
                t.value = std::string(1, static_cast<char>(c));
            }
            t.written = std::string(s_.substr(start, i_ - start));
            tokens.push_back(std::move(t));
        }
    }

private:
    std::vector<Token> finish(std::vector<Token>& tokens, Token t) {
        t.kind = Kind::End;
        tokens.push_back(std::move(t));
        return std::move(tokens);
    }

    void skipBlanks(std::vector<SqlError>& errors) {
        for (;;) {
            if (i_ >= s_.size())
                return;
            const char c = s_[i_];
            if (c == '\n') {
                ++line_;
                ++i_;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++i_;
            } else if (c == '-' && i_ + 1 < s_.size() && s_[i_ + 1] == '-') {
                while (i_ < s_.size() && s_[i_] != '\n')
                    ++i_;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
                // Block comments nest in T-SQL.
                const int startLine = line_;
                int depth = 0;
                do {
                    if (s_.compare(i_, 2, "/*") == 0) {
                        ++depth;
                        i_ += 2;
                    } else if (s_.compare(i_, 2, "*/") == 0) {
                        --depth;
                        i_ += 2;
                    } else {
                        if (s_[i_] == '\n')
                            ++line_;
                        ++i_;
                    }
                } while (depth > 0 && i_ < s_.size());
                if (depth > 0)
                    errors.push_back({113, 15, "Missing end comment mark '*/'.", startLine});
            } else {
                return;
            }
        }
    }

    void number() {
        while (i_ < s_.size() && ((s_[i_] >= '0' && s_[i_] <= '9') || s_[i_] == '.'))
            ++i_;
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-'))
                ++i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9')
                ++i_;
        }
    }

    // Reads a quoted run whose closing character doubles to stand for itself.
    bool quoted(char close, Token& t, std::vector<SqlError>& errors) {
        const int startLine = line_;
        const std::size_t contentStart = i_ + 1;
        ++i_;
        for (;;) {
            if (i_ >= s_.size()) {
                const std::string rest(s_.substr(contentStart));
                errors.push_back(
                    {105, 15, "Unclosed quotation mark after the character string '" + rest + "'.",
                     startLine});
                errors.push_back({102, 15, "Incorrect syntax near '" + rest + "'.", startLine});
                return false;
            }
            const char c = s_[i_];
            if (c == '\n')
                ++line_;
            if (c == close) {
                if (i_ + 1 < s_.size() && s_[i_ + 1] == close) {
                    t.value.push_back(close);
                    i_ += 2;
                    continue;
                }
                ++i_;
                return true;
            }
            t.value.push_back(c);
            ++i_;
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(std::vector<Token> tokens, ParsedBatch& out) : t_(std::move(tokens)), out_(out) {}

    void run() {
        bool first = true;
        while (peek().kind != Kind::End) {
            if (peek().kind == Kind::Symbol && peek().value == ";") {
                ++pos_;
                continue;
            }
            if (!statement(first))
                return;
            first = false;
            // A statement ends at ";", at the start of the next one, or at the end.
            const Token& next = peek();
            if (next.kind == Kind::End || (next.kind == Kind::Symbol && next.value == ";") ||
                inList(next, kStatementStarts))
                continue;
            fail(next);
            return;
        }
    }

private:
    const Token& peek(std::size_t ahead = 0) const {
        return t_[std::min(pos_ + ahead, t_.size() - 1)];
    }
    const Token& take() {
        const Token& t = peek();
        if (pos_ < t_.size() - 1)
            ++pos_;
        return t;
    }

    void fail(const Token& at) {
        // At the end of the batch SQL Server names the last token it read.
        const Token& shown = at.kind == Kind::End && pos_ > 0 ? t_[pos_ - 1] : at;
        out_.errors.push_back(
            {102, 15, "Incorrect syntax near '" + shown.written + "'.", shown.line});
    }

    bool identifier(const Token& t) const {
        return t.kind == Kind::Quoted ||
               (t.kind == Kind::Word && !inList(t, kReserved) && !inList(t, kStatementStarts));
    }

    std::optional<ObjectName> objectName() {
        ObjectName name;
        for (;;) {
            const Token& part = peek();
            if (!identifier(part)) {
                fail(part);
                return std::nullopt;
            }
            name.parts.push_back(take().value);
            if (!(peek().kind == Kind::Symbol && peek().value == "."))
                break;
            if (name.parts.size() == 3) {
                fail(peek());
                return std::nullopt;
            }
            take();
        }
        return name;
    }

    bool statement(bool first) {
        const Token& head = peek();
        const int line = head.line;
        if (isKeyword(head, "select"))
            return select(line);
        if (isKeyword(head, "set"))
            return set(line);
        if (isKeyword(head, "use")) {
            take();
            if (!identifier(peek())) {
                fail(peek());
                return false;
            }
            out_.statements.push_back({line, UseDatabase{take().value}});
            return true;
        }
        if (isKeyword(head, "exec") || isKeyword(head, "execute")) {
            take();
            return exec(line);
        }
        if (isKeyword(head, "begin") || isKeyword(head, "commit") || isKeyword(head, "rollback"))
            return transaction(line, false);
        if (isKeyword(head, "if") && peek(1).kind == Kind::Variable &&
            equalsIgnoreCase(peek(1).value, "@@trancount") && peek(2).kind == Kind::Symbol &&
            peek(2).value == ">" && peek(3).kind == Kind::Number && peek(3).value == "0" &&
            (isKeyword(peek(4), "commit") || isKeyword(peek(4), "rollback"))) {
            pos_ += 4;
            return transaction(line, true);
        }
        // A batch may start with a bare procedure name, which runs it.
        if (first && identifier(head))
            return exec(line);
        fail(head);
        return false;
    }

    bool transaction(int line, bool ifAny) {
        Transaction tr;
        tr.ifAny = ifAny;
        const Token& head = take();
        tr.kind = isKeyword(head, "begin")    ? Transaction::Kind::Begin
                  : isKeyword(head, "commit") ? Transaction::Kind::Commit
                                              : Transaction::Kind::Rollback;
        const bool word = isKeyword(peek(), "tran") || isKeyword(peek(), "transaction");
        if (tr.kind == Transaction::Kind::Begin && !word) {
            fail(peek()); // a BEGIN ... END block
            return false;
        }
        if (word || (tr.kind != Transaction::Kind::Begin && isKeyword(peek(), "work"))) {
            const bool named = word;
            take();
            if (named && (identifier(peek()) || peek().kind == Kind::Variable))
                take();
        }
        Statement& st = out_.statements.emplace_back();
        st.line = line;
        st.what.emplace<Transaction>(tr);
        return true;
    }

    bool select(int line) {
        take();
        if (peek().kind == Kind::Variable && equalsIgnoreCase(peek().value, "@@textsize")) {
            take();
            out_.statements.push_back({line, SelectVariable{"textsize"}});
            return true;
        }
        std::vector<std::string> baseTypeOf;
        while (isKeyword(peek(), "sql_variant_property")) {
            auto column = variantBaseTypeItem();
            if (!column)
                return false;
            baseTypeOf.push_back(std::move(*column));
        }
        if (!(peek().kind == Kind::Symbol && peek().value == "*")) {
            fail(peek());
            return false;
        }
        take();
        if (!isKeyword(peek(), "from")) {
            fail(peek());
            return false;
        }
        take();
        auto name = objectName();
        if (!name)
            return false;
        if (isKeyword(peek(), "as")) {
            take();
            if (!identifier(peek())) {
                fail(peek());
                return false;
            }
            take();
        } else if (identifier(peek())) {
            take();
        }
        out_.statements.push_back({line, SelectAll{std::move(*name), std::move(baseTypeOf)}});
        return true;
    }

    bool symbol(std::string_view s) {
        if (!(peek().kind == Kind::Symbol && peek().value == s)) {
            fail(peek());
            return false;
        }
        take();
        return true;
    }

    // SQL_VARIANT_PROPERTY(<column>, 'BaseType') followed by a comma: the column's name.
    std::optional<std::string> variantBaseTypeItem() {
        take();
        if (!symbol("("))
            return std::nullopt;
        if (!identifier(peek())) {
            fail(peek());
            return std::nullopt;
        }
        std::string column = take().value;
        if (!symbol(","))
            return std::nullopt;
        if (peek().kind != Kind::String || !equalsIgnoreCase(peek().value, "basetype")) {
            fail(peek());
            return std::nullopt;
        }
        take();
        if (!symbol(")") || !symbol(","))
            return std::nullopt;
        return column;
    }

    bool set(int line) {
        take();
        const Token& option = peek();
        if (option.kind != Kind::Word || inList(option, kStatementStarts)) {
            fail(option);
            return false;
        }
        SetOption s;
        s.option = asciiLower(take().value);
        // The arguments end with ON, OFF or a literal ("SET NOCOUNT ON", "SET TEXTSIZE 100"),
        // or else where the next statement starts ("SET TRANSACTION ISOLATION LEVEL ...").
        while (peek().kind != Kind::End && !(peek().kind == Kind::Symbol && peek().value == ";") &&
               !inList(peek(), kStatementStarts)) {
            const Token& arg = take();
            if (!s.arguments.empty())
                s.arguments.push_back(' ');
            s.arguments += asciiLower(arg.written);
            if (isKeyword(arg, "on") || isKeyword(arg, "off") || arg.kind == Kind::Number ||
                arg.kind == Kind::String)
                break;
        }
        out_.statements.push_back({line, std::move(s)});
        return true;
    }

    bool exec(int line) {
        auto name = objectName();
        if (!name)
            return false;
        ExecProcedure e{std::move(*name), {}};
        if (peek().kind == Kind::End || (peek().kind == Kind::Symbol && peek().value == ";") ||
            inList(peek(), kStatementStarts)) {
            out_.statements.push_back({line, std::move(e)});
            return true;
        }
        for (;;) {
            RpcParam p;
            if (peek().kind == Kind::Variable && peek(1).kind == Kind::Symbol &&
                peek(1).value == "=") {
                p.name = take().value;
                take();
            }
            const Token& v = peek();
            if (v.kind == Kind::String || v.kind == Kind::Number) {
                p.type = v.kind == Kind::String ? "nvarchar" : "int";
                p.value = take().value;
            } else if (v.kind == Kind::Symbol && v.value == "-" && peek(1).kind == Kind::Number) {
                take();
                p.type = "int";
                p.value = "-" + take().value;
            } else if (isKeyword(v, "null")) {
                take();
                p.isNull = true;
            } else if (v.kind == Kind::Word && !inList(v, kStatementStarts) &&
                       !inList(v, kReserved)) {
                p.type = "nvarchar";
                p.value = take().value;
            } else {
                fail(v);
                return false;
            }
            e.params.push_back(std::move(p));
            if (!(peek().kind == Kind::Symbol && peek().value == ","))
                break;
            take();
        }
        out_.statements.push_back({line, std::move(e)});
        return true;
    }

    std::vector<Token> t_;
    std::size_t pos_ = 0;
    ParsedBatch& out_;
};

char foldChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string ObjectName::display() const {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty())
            out.push_back('.');
        out += p;
    }
    return out;
}

ParsedBatch parseBatch(std::string_view sql) {
    ParsedBatch out;
    std::vector<Token> tokens = Lexer(sql).run(out.errors);
    if (!out.errors.empty())
        return out;
    Parser(std::move(tokens), out).run();
    if (!out.errors.empty())
        out.statements.clear();
    return out;
}

bool likeMatch(std::string_view name, std::string_view pattern) {
    // Iterative wildcard matching with one backtrack point for the last '%'.
    std::size_t n = 0, p = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            const char pc = pattern[p];
            if (pc == '%') {
                starP = ++p;
                starN = n;
                continue;
            }
            if (pc == '_') {
                ++p;
                ++n;
                advanced = true;
            } else if (pc == '[') {
                const std::size_t close = pattern.find(']', p + 1);
                if (close != std::string_view::npos) {
                    std::string_view set = pattern.substr(p + 1, close - p - 1);
                    bool negate = !set.empty() && set.front() == '^';
                    if (negate)
                        set.remove_prefix(1);
                    bool hit = false;
                    const char c = foldChar(name[n]);
                    for (std::size_t k = 0; k < set.size(); ++k) {
                        if (k + 2 < set.size() && set[k + 1] == '-') {
                            hit = hit || (c >= foldChar(set[k]) && c <= foldChar(set[k + 2]));
                            k += 2;
                        } else {
                            hit = hit || c == foldChar(set[k]);
                        }
                    }
                    if (hit != negate) {
                        p = close + 1;
                        ++n;
                        advanced = true;
                    }
                } else if (name[n] == '[') {
                    ++p;
                    ++n;
                    advanced = true;
                }
            } else if (foldChar(pc) == foldChar(name[n])) {
                ++p;
                ++n;
                advanced = true;
            }
        }
        if (advanced)
            continue;
        if (starP == std::string_view::npos)
            return false;
        p = starP;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == '%')
        ++p;
    return p == pattern.size();
}

} // namespace tdsserver
