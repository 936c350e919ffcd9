// The virtual scope as a child process of one test: an attached bridge device
// named `name` in this test process's virtual-bridges folder. What goes wrong
// with it fails the test.
#pragma once

#include "ScopeLauncher.h"

#include <gtest/gtest.h>

namespace testsupport {

using scopelauncher::Field; // value of key in a log line ("" when absent)

// Returns once the link exists (fails the test after 5 s).
struct VirtualScopeProcess : scopelauncher::ScopeLauncher {
    explicit VirtualScopeProcess(const std::vector<std::string>& options, const std::string& name = "scope0")
        : ScopeLauncher([](const std::string& error) { ADD_FAILURE() << error; }) {
        Start(options, name);
    }
};

} // namespace testsupport
