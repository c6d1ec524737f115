#include "db/Probe.h"

#include "Printers.h"
#include "TestServer.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using db::ConnectionStringForm;

using ProbeTest = ServerTest;

TEST_F(ProbeTest, EmptyValuesOrNothingListeningIsFalseWithinTheTimeOut) {
    EXPECT_FALSE(MSSQL::CanConnect({}, kShortTimeout));
    server.stop(); // its port is free now: nothing listens there
    const auto started = Clock::now();
    EXPECT_FALSE(MSSQL::CanConnect(login(), kShortTimeout));
    EXPECT_LT(Clock::now() - started, kShortTimeout + std::chrono::seconds(2));
}

using ProbeOnBothBackends = OnBothBackends<ServerTest>;

// The test's two messages and the driver's reason are the command line's probe test's
// (CommandsOnBothBackends.ProbeTellsTheTestsMessageAndVerboseAddsTheDriversReason).
TEST_P(ProbeOnBothBackends, WorkingLoginSucceedsAndEachWrongValueFails) {
    EXPECT_TRUE(MSSQL::CanConnect(backend->login(), kShortTimeout));
    for (QString db::ConnectionSettings::*value :
         {&db::ConnectionSettings::password, &db::ConnectionSettings::user,
          &db::ConnectionSettings::database}) {
        db::ConnectionSettings wrong = backend->login();
        wrong.*value += u("-wrong");
        EXPECT_FALSE(MSSQL::CanConnect(wrong, kShortTimeout)) << (wrong.*value).toStdString();
    }
}

TALLOWBY_ON_BOTH_BACKENDS(ProbeOnBothBackends);

// Values that hold ";" or start with "{" travel in braces: the server receives them whole, and
// the login with them works.
class BracedValueTest : public ServerTest, public testing::WithParamInterface<const char*> {
protected:
    BracedValueTest() : ServerTest({.password = GetParam(), .log = {}}) {}
};

TEST_P(BracedValueTest, PasswordReachesTheServerWhole) {
    db::ConnectionSettings settings = login();
    settings.password = u(GetParam());
    for (auto form : {ConnectionStringForm::MixedCase, ConnectionStringForm::UpperCase}) {
        const db::LoginAttempt attempt = db::tryLogin(settings, form, kShortTimeout);
        EXPECT_TRUE(attempt.ok) << attempt.diagnostic.toStdString();
    }
    const auto logins = server.logins();
    ASSERT_EQ(logins.size(), 2u);
    for (const tdsserver::LoginRecord& login : logins)
        EXPECT_EQ(login.password, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Values, BracedValueTest,
                         testing::Values("a;b", "x;Trusted_Connection=yes;Uid=sa", "{pw}", "{",
                                         "x;y}", ";", "a}b",
                                         "p\xC3\xA4ss\xE2\x9C\x93\xF0\x9F\x98\x80", " spaced "));

} // namespace
