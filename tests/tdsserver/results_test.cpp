#include "server_fixture.h"

#include <chrono>
#include <thread>

using odbctest::Cell;
using odbctest::Connection;
using odbctest::OdbcError;
using odbctest::Statement;
using ::testing::HasSubstr;

namespace {

constexpr int kBigRows = 100000;

} // namespace

class ResultsTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        server.execSql("testdb", R"(
            CREATE TABLE big(id int, label nvarchar(40), amount decimal(12,2));
            WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)
            INSERT INTO big SELECT i, 'row ' || i, i * 0.01 FROM n;
            CREATE TABLE small(id int);
            INSERT INTO small VALUES (1), (2), (3);
        )");
    }
};

TEST_F(ResultsTest, HundredThousandRowsArriveCompleteAndInOrder) {
    Connection c(connection());
    Statement s(c, 60);
    s.execute("SELECT * FROM [big]");
    std::int64_t count = 0;
    std::int64_t outOfOrder = 0;
    while (s.fetch()) {
        ++count;
        const std::string id = s.get(1).value_or("");
        if (id != std::to_string(count))
            ++outOfOrder;
        if (count == kBigRows) {
            EXPECT_EQ(s.get(2), Cell("row 100000"));
            EXPECT_EQ(s.get(3), Cell("1000.00"));
        }
    }
    EXPECT_EQ(count, kBigRows);
    EXPECT_EQ(outOfOrder, 0);
}

TEST_F(ResultsTest, TwoClientsReadAtTheSameTime) {
    Connection a(connection());
    Connection b(connection());
    Statement sa(a, 60);
    Statement sb(b, 60);
    sa.execute("SELECT * FROM big");
    sb.execute("SELECT * FROM big");
    // Alternate between the two open results, so that both sessions hold one at once.
    std::int64_t na = 0, nb = 0;
    bool moreA = true, moreB = true;
    while (moreA || moreB) {
        for (int i = 0; i < 1000 && moreA; ++i)
            if ((moreA = sa.fetch()))
                ++na;
        for (int i = 0; i < 1000 && moreB; ++i)
            if ((moreB = sb.fetch()))
                ++nb;
    }
    EXPECT_EQ(na, kBigRows);
    EXPECT_EQ(nb, kBigRows);
}

TEST_F(ResultsTest, ClientsOnSeveralThreadsAtOnce) {
    const std::string cs = connection(); // starts the server before the threads race to
    std::vector<std::thread> threads;
    std::vector<std::size_t> counts(4, 0);
    for (std::size_t t = 0; t < counts.size(); ++t) {
        threads.emplace_back([&, t] {
            try {
                Connection c(cs);
                for (int i = 0; i < 3; ++i)
                    counts[t] += c.query("SELECT * FROM small").rows.size();
                counts[t] += c.tables().rows.size();
            } catch (const OdbcError& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (std::size_t n : counts)
        EXPECT_EQ(n, 9u + 2u);
}

TEST_F(ResultsTest, CancelStopsALongResultAndTheConnectionGoesOn) {
    Connection c(connection());
    {
        Statement s(c);
        s.execute("SELECT * FROM big");
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(s.fetch());
        s.cancel();
    }
    EXPECT_EQ(server.attentions(), 1u);
    EXPECT_EQ(c.query("SELECT * FROM small").rows.size(), 3u);
}

TEST_F(ResultsTest, QueryTimeoutCancelsASlowAnswer) {
    server.firstRowDelay(std::chrono::seconds(20));
    Connection c(connection());
    const auto start = std::chrono::steady_clock::now();
    try {
        c.query("SELECT * FROM small", 1);
        ADD_FAILURE() << "the query did not time out";
    } catch (const OdbcError& e) {
        EXPECT_EQ(e.state(), "HYT00") << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(server.attentions(), 1u);
    server.firstRowDelay(std::chrono::milliseconds(0));
    EXPECT_EQ(c.query("SELECT * FROM small").rows.size(), 3u);
}

TEST_F(ResultsTest, SlowAnswerStillArrivesWhole) {
    server.firstRowDelay(std::chrono::milliseconds(300));
    Connection c(connection());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.query("SELECT * FROM small").rows.size(), 3u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(ResultsTest, ConnectionDroppedMidResultIsAnErrorNotAHang) {
    server.dropAfterRows(1000);
    Connection c(connection());
    Statement s(c, 10);
    const auto start = std::chrono::steady_clock::now();
    std::int64_t rows = 0;
    try {
        s.execute("SELECT * FROM big");
        while (s.fetch())
            ++rows;
        ADD_FAILURE() << "all " << rows << " rows arrived";
    } catch (const OdbcError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Unexpected EOF from the server"));
    }
    EXPECT_LE(rows, 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(ResultsTest, DropAfterNoRowsCutsTheCatalogueToo) {
    server.dropAfterRows(0);
    Connection c(connection());
    EXPECT_THROW(c.tables(), OdbcError);
    server.dropAfterRows(-1);
    Connection again(connection());
    EXPECT_EQ(again.query("SELECT * FROM small").rows.size(), 3u);
}

TEST_F(ResultsTest, ManyRequestsOnOneConnection) {
    Connection c(connection());
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(c.query("SELECT * FROM small").rows.size(), 3u) << i;
        if (i % 50 == 0) {
            EXPECT_THROW(c.query("SELECT * FROM missing"), OdbcError);
        }
    }
    EXPECT_EQ(server.batches().size(), 204u);
}
