// The virtual scope as a child process of one test: an attached bridge device
// named `name` in this test process's virtual-bridges folder. What goes wrong
// with it fails the test.
#pragma once

#include "ScopeLauncher.h"

#include <gtest/gtest.h>

namespace testsupport {

using scopelauncher::Field; // value of key in a log line ("" when absent)

class VirtualScopeProcess : public scopelauncher::ScopeLauncher {
  public:
    // Returns once the link exists (fails the test after 5 s).
    explicit VirtualScopeProcess(const std::vector<std::string>& options,
                                 const std::string& name = "scope0") {
        Check(Start(options, name));
    }
    ~VirtualScopeProcess() { Stop(); }

    void Unplug() { Check(ScopeLauncher::Unplug()); }
    void Replug() { Check(ScopeLauncher::Replug()); }
    int Stop(int signal = SIGTERM) {
        const int code = ScopeLauncher::Stop(signal);
        if (code == kKilled)
            ADD_FAILURE() << "the virtual scope did not exit within 5 s of signal " << signal
                          << "; killed it";
        return code;
    }

  private:
    static void Check(const std::string& error) {
        if (!error.empty())
            ADD_FAILURE() << error;
    }
};

} // namespace testsupport
