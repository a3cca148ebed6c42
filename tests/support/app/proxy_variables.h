// A dialog test that starts without the proxy variables and without a failing proxy query,
// since the dialog's set-up reads the system proxy, and gives the user's variables back after.
#pragma once

#include <cstdlib>
#include <map>
#include <string>

#include "support/app/app_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {

class ProxyVariablesTest : public DialogTest {
  protected:
    ProxyVariablesTest() {
        for (const char* name : kVariables) {
            if (const char* value = std::getenv(name))
                saved_[name] = value;
            unsetenv(name);
        }
    }
    ~ProxyVariablesTest() override {
        platform::testing::FailInternetQueries(0);
        for (const char* name : kVariables)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }

    static constexpr const char* kVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                                 "HTTPS_PROXY", "all_proxy",  "ALL_PROXY"};

  private:
    std::map<std::string, std::string> saved_;
};

}  // namespace apptest
