// Every console test starts with the simulated console installed and a plugin
// that has not yet created its console menu name.
#pragma once

#include "address_space.h"
#include "console/console_functions.h"
#include "console/menu_lookup.h"
#include "console_sim.h"
#include "platform_control.h"
#include "scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

class ConsoleTest : public testing::Test {
  protected:
    void SetUp() override {
        quorvane::ForgetConsoleMenuNameForTesting();
        console = &testhost::InstallSimulatedConsole();
    }

    static void CreateLog() { testhost::CreateLogFile(); }
    // The log's lines without their time stamps.
    static std::string LoggedMessages() {
        std::string log = testhost::ReadFile("Quorvane.txt");
        std::string messages;
        std::size_t start = 0;
        while (start < log.size()) {
            std::size_t end = log.find("\r\n", start);
            if (end == std::string::npos) {
                end = log.size();
            }
            messages += log.substr(start + 16, end - start - 16) + "\n";
            start = end + 2;
        }
        return messages;
    }

    testhost::SimulatedConsole* console = nullptr;
};

inline quorvane::host::StringCacheRef Text(const char* text) {
    return quorvane::host::StringCacheRef{text};
}
