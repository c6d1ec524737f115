#include "sqlbatch.h"

#include <gtest/gtest.h>

using tdsserver::ExecProcedure;
using tdsserver::parseBatch;
using tdsserver::SelectAll;
using tdsserver::SetOption;
using tdsserver::UseDatabase;

namespace {

// One line per statement, or the errors: "select a|b", "set fmtonly=on", "use x",
// "exec sp_tables(@p='v')", "error 102@1: Incorrect syntax near 'x'."
std::string render(std::string_view sql) {
    const auto batch = parseBatch(sql);
    std::string out;
    for (const auto& e : batch.errors)
        out += "error " + std::to_string(e.number) + "@" + std::to_string(e.line) + ": " +
               e.message + "\n";
    for (const auto& st : batch.statements) {
        if (const auto* s = std::get_if<SelectAll>(&st.what)) {
            out += "select ";
            for (std::size_t i = 0; i < s->table.parts.size(); ++i)
                out += (i ? "|" : "") + s->table.parts[i];
        } else if (const auto* set = std::get_if<SetOption>(&st.what)) {
            out += "set " + set->option + "=" + set->arguments;
        } else if (const auto* use = std::get_if<UseDatabase>(&st.what)) {
            out += "use " + use->database;
        } else if (const auto* exec = std::get_if<ExecProcedure>(&st.what)) {
            out += "exec " + exec->procedure.display() + "(";
            for (const auto& p : exec->params)
                out += p.name + "=" + (p.isNull ? "NULL" : "'" + p.value + "'") + ";";
            out += ")";
        }
        out += "@" + std::to_string(st.line) + "\n";
    }
    return out;
}

struct BatchCase {
    const char* sql;
    const char* parsed;
};

void PrintTo(const BatchCase& k, std::ostream* os) {
    *os << '"' << k.sql << '"';
}

class BatchParse : public ::testing::TestWithParam<BatchCase> {};

} // namespace

TEST_P(BatchParse, ParsesOrRefusesLikeSqlServer) {
    EXPECT_EQ(render(GetParam().sql), GetParam().parsed) << GetParam().sql;
}

INSTANTIATE_TEST_SUITE_P(
    Batches, BatchParse,
    ::testing::Values(
        BatchCase{"SELECT * FROM [people];", "select people@1\n"},
        BatchCase{"select*from[a]]b]", "select a]b@1\n"},
        BatchCase{"SELECT * FROM [with space] AS w", "select with space@1\n"},
        BatchCase{"SELECT * FROM \"quo\"\"ted\" q", "select quo\"ted@1\n"},
        BatchCase{"SELECT * FROM [db].[sales].[t]", "select db|sales|t@1\n"},
        BatchCase{"SELECT * FROM sales . t", "select sales|t@1\n"},
        BatchCase{"SELECT * FROM [日本]", "select 日本@1\n"},
        // The wizard's query for a name holding "]": the rest of the name is read as an alias.
        BatchCase{"SELECT * FROM [a]b];", "error 102@1: Incorrect syntax near ']'.\n"},
        BatchCase{"SELECT * FROM a.b.c.d", "error 102@1: Incorrect syntax near '.'.\n"},
        BatchCase{"SELECT * FROM t WHERE 1 = 1", "error 102@1: Incorrect syntax near 'WHERE'.\n"},
        BatchCase{"SELECT * FROM", "error 102@1: Incorrect syntax near 'FROM'.\n"},
        BatchCase{"SELECT * FROM from", "error 102@1: Incorrect syntax near 'from'.\n"},
        BatchCase{"SELECT 1", "error 102@1: Incorrect syntax near '1'.\n"},
        BatchCase{"\n\nSELECT a FROM t", "error 102@3: Incorrect syntax near 'a'.\n"},
        BatchCase{"SELECT * FROM [open",
                  "error 105@1: Unclosed quotation mark after the character string 'open'.\n"
                  "error 102@1: Incorrect syntax near 'open'.\n"},
        BatchCase{"SET LANGUAGE 'it''s", "error 105@1: Unclosed quotation mark after the "
                                         "character string 'it''s'.\n"
                                         "error 102@1: Incorrect syntax near 'it''s'.\n"},
        BatchCase{"SELECT * FROM t /* open", "error 113@1: Missing end comment mark '*/'.\n"},
        BatchCase{"SELECT * FROM t /* a /* nested */ still */", "select t@1\n"},
        BatchCase{"-- only a comment\n  ", ""}, BatchCase{"", ""}, BatchCase{";;", ""},
        BatchCase{"SET FMTONLY ON select * from x SET FMTONLY OFF",
                  "set fmtonly=on@1\nselect x@1\nset fmtonly=off@1\n"},
        BatchCase{"SET TRANSACTION ISOLATION LEVEL READ COMMITTED;\nSET TEXTSIZE 2147483647",
                  "set transaction=isolation level read committed@1\nset textsize=2147483647@2\n"},
        BatchCase{"USE [my db]", "use my db@1\n"}, BatchCase{"sp_tables", "exec sp_tables()@1\n"},
        BatchCase{"EXEC master.dbo.sp_tables NULL, 'dbo', @table_type = N'''TABLE''', -1",
                  "exec master.dbo.sp_tables(=NULL;='dbo';@table_type=''TABLE'';='-1';)@1\n"},
        BatchCase{"SET NOCOUNT ON sp_tables", "error 102@1: Incorrect syntax near 'sp_tables'.\n"},
        BatchCase{"SELECT * FROM t; DELETE FROM t",
                  "error 102@1: Incorrect syntax near 'DELETE'.\n"}));

TEST(LikeMatch, WildcardsSetsAndCase) {
    struct Case {
        const char* name;
        const char* pattern;
        bool match;
    };
    for (const Case& k : {
             Case{"Apple", "a%", true},
             Case{"Apple", "%", true},
             Case{"", "%", true},
             Case{"", "_", false},
             Case{"Apple", "_pple", true},
             Case{"Apple", "Appl", false},
             Case{"Apple", "%le", true},
             Case{"abcabc", "%bc", true},
             Case{"abcabd", "%bc", false},
             Case{"Apple", "[a-b]pple", true},
             Case{"Apple", "[^a]pple", false},
             Case{"a_b", "a[_]b", true},
             Case{"axb", "a[_]b", false},
             Case{"a[b", "a[b", true},
             Case{"people", "PEO%", true},
         }) {
        EXPECT_EQ(tdsserver::likeMatch(k.name, k.pattern), k.match)
            << k.name << " LIKE " << k.pattern;
    }
}
