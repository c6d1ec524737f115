#pragma once

#include "odbc_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tdsserver/server.h>

// A server with one in-memory database "testdb", started on a free port when first needed.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { server.addDatabase("testdb", ":memory:"); }

    std::uint16_t port() {
        if (server.port() == 0)
            server.start();
        return server.port();
    }

    std::string connection(const std::string& database = "testdb", const std::string& user = "demo",
                           const std::string& password = "demo") {
        return odbctest::connectionString(port(), database, user, password);
    }

    tdsserver::Server server;
};
