#include "server_fixture.h"

#include <chrono>
#include <unistd.h>

using odbctest::Connection;
using odbctest::OdbcError;
using ::testing::HasSubstr;

namespace {

// Runs f, which must throw OdbcError, and returns the error.
template <typename F>
OdbcError expectOdbcError(F&& f) {
    try {
        f();
    } catch (const OdbcError& e) {
        return e;
    }
    ADD_FAILURE() << "no ODBC error";
    return OdbcError("", "", 0);
}

} // namespace

TEST_F(ServerTest, LoginReceivesUserPasswordDatabaseAndClientFieldsAsSent) {
    tdsserver::Config config;
    config.user = "Ünïcode user";
    config.password = "p@ss wörd!#%&'\"<>";
    tdsserver::Server other(config);
    other.addDatabase("Mixed Case DB", ":memory:");
    const std::uint16_t p = other.start();
    {
        Connection c("Driver={SQL Server};Server=127.0.0.1," + std::to_string(p) +
                     ";Database=Mixed Case DB;Uid=Ünïcode user;Pwd=p@ss wörd!#%&'\"<>;"
                     "App=tallowby-tests;");
    }
    const auto logins = other.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_TRUE(logins[0].accepted);
    EXPECT_EQ(logins[0].user, "Ünïcode user");
    EXPECT_EQ(logins[0].password, "p@ss wörd!#%&'\"<>");
    EXPECT_EQ(logins[0].database, "Mixed Case DB");
    EXPECT_EQ(logins[0].appName, "tallowby-tests");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(logins[0].hostName, host);
    EXPECT_EQ(logins[0].tdsVersion, 0x74000004u);
}

TEST_F(ServerTest, WrongPasswordOrUserIsRefusedWithLoginFailed) {
    for (const auto& [user, password] :
         {std::pair{"demo", "Demo"}, std::pair{"demo", "demo "}, std::pair{"other", "demo"}}) {
        const OdbcError e =
            expectOdbcError([&] { Connection c(connection("testdb", user, password)); });
        EXPECT_EQ(e.native(), 18456) << e.what();
        EXPECT_THAT(e.what(), HasSubstr("Login failed for user '" + std::string(user) + "'."));
    }
    for (const auto& login : server.logins())
        EXPECT_FALSE(login.accepted);
}

TEST_F(ServerTest, UserNameIsCaseInsensitivePasswordIsNot) {
    EXPECT_NO_THROW(Connection c(connection("testdb", "DEMO", "demo")));
    EXPECT_THROW(Connection c(connection("testdb", "demo", "DEMO")), OdbcError);
}

TEST_F(ServerTest, RefuseLoginsRefusesEvenTheRightLoginAndCanBeLifted) {
    server.refuseLogins(true);
    const OdbcError e = expectOdbcError([&] { Connection c(connection()); });
    EXPECT_EQ(e.native(), 18456);
    server.refuseLogins(false);
    EXPECT_NO_THROW(Connection c(connection()));
}

TEST_F(ServerTest, UnknownDatabaseIsRefusedWithCannotOpenDatabase) {
    const OdbcError e = expectOdbcError([&] { Connection c(connection("nosuchdb")); });
    // SQL Server sends 4060 and then 18456; the driver lists both.
    EXPECT_THAT(e.what(), HasSubstr("(4060)"));
    EXPECT_THAT(e.what(), HasSubstr("(18456)"));
    EXPECT_THAT(e.what(), HasSubstr("Cannot open database \"nosuchdb\" requested by the login. "
                                    "The login failed."));
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_FALSE(server.logins()[0].accepted);
}

TEST_F(ServerTest, DatabaseNameIsCaseInsensitiveAndEmptyMeansTheFirstDatabase) {
    server.addDatabase("second", ":memory:");
    server.execSql("testdb", "CREATE TABLE only_in_first(x int)");
    Connection upper(connection("TESTDB"));
    EXPECT_NO_THROW(upper.query("SELECT * FROM only_in_first"));
    Connection empty(connection(""));
    EXPECT_NO_THROW(empty.query("SELECT * FROM only_in_first"));
    Connection second(connection("second"));
    EXPECT_THROW(second.query("SELECT * FROM only_in_first"), OdbcError);
}

TEST_F(ServerTest, ServerThatNeverAnswersMakesTheLoginTimeOut) {
    server.neverAnswer(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Connection c(connection(), 2), OdbcError);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(15));
    EXPECT_TRUE(server.logins().empty());
    server.neverAnswer(false);
    EXPECT_NO_THROW(Connection c(connection()));
}

TEST_F(ServerTest, StopClosesOpenConnectionsAndTheServerCanStartAgain) {
    Connection c(connection());
    server.stop();
    EXPECT_THROW(c.query("SELECT * FROM x"), OdbcError);
    server.start();
    EXPECT_NO_THROW(Connection again(connection()));
}
