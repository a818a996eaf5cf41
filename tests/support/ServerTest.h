#pragma once

#include <gtest/gtest.h>

#include "ScopedEnvironment.h"
#include "SubstituteServer.h"
#include "TempHome.h"

// A test against the substitute server: a fresh home, the server, and the server's authority
// as the only one trusted, for as long as the test runs.
class ServerTest : public ::testing::Test {
  protected:
    // Trusts another server's authority instead, until the test ends or the next call.
    void trust(const SubstituteServer& server) {
        m_environment.set("SSL_CERT_FILE", server.caPath());
    }

    TempHome m_home;
    SubstituteServer m_server;
    ScopedEnvironment m_environment{{"SSL_CERT_FILE", m_server.caPath()}};
};
