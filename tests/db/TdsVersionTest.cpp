// Runs without TDSVER in the environment, as a user's program would: the layer's own pinning is
// what is under test here.
#include "db/TdsVersion.h"

#include "TestServer.h"
#include "db/Probe.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Taken before any test runs: the first connection sets TDSVER for the rest of the process.
const bool startedWithoutTdsver = std::getenv("TDSVER") == nullptr;

// FreeTDS's own default would hang for ever here; a hung test must still end, and say why.
template <typename F>
auto within(std::chrono::seconds limit, F work) {
    auto result = std::async(std::launch::async, std::move(work));
    if (result.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "still waiting for the driver after %lld s: it hangs\n",
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(3);
    }
    return result.get();
}

class TdsVersionTest : public ServerTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(startedWithoutTdsver) << "this test must run without TDSVER";
        ServerTest::SetUp();
    }
};

TEST_F(TdsVersionTest, ServerThatNeverAnswersIsFalseWithinTheTimeOut) {
    server.neverAnswer(true);
    const auto started = Clock::now();
    const bool connected = within(std::chrono::seconds(30), [this] {
        return MSSQL::CanConnect(login(), std::chrono::seconds(2));
    });
    EXPECT_FALSE(connected);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(6));
    EXPECT_STREQ(std::getenv("TDSVER"), "7.4");
}

// A TDSVER the user set is the user's choice: the login goes out with that protocol.
TEST_F(TdsVersionTest, UsersOwnVersionReachesTheServer) {
    ::setenv("TDSVER", "7.3", 1);
    EXPECT_TRUE(within(std::chrono::seconds(30),
                       [this] { return MSSQL::CanConnect(login(), std::chrono::seconds(3)); }));
    ::unsetenv("TDSVER");
    const auto logins = server.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].tdsVersion >> 24, 0x73u) << std::hex << logins[0].tdsVersion;
}

// The pin runs when the layer makes its environment, before any test here: called again, it
// keeps a value the user set and fills an empty one.
TEST(PinTdsVersionTest, AUsersValueStaysAndAnEmptyOneIsNotSet) {
    const char* saved = std::getenv("TDSVER");
    const std::string before = saved != nullptr ? saved : "";
    ::setenv("TDSVER", "7.3", 1);
    EXPECT_STREQ(db::pinTdsVersion(), "7.3");
    ::setenv("TDSVER", "", 1);
    EXPECT_STREQ(db::pinTdsVersion(), "7.4");
    if (saved != nullptr) {
        ::setenv("TDSVER", before.c_str(), 1);
    } else {
        ::unsetenv("TDSVER");
    }
}

} // namespace
