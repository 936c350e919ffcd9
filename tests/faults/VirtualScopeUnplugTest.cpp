// The virtual scope as the fault campaign uses it, through Haldrin's real link
// and our driver library: a scope told to go away after the reply to command N
// answers nothing after that reply, however quickly the host sends its next
// command; and it answers the hello again once it is back.
#include "BootPacket.h"
#include "ScopeLink.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using loader::ScopeLink;
using Strings = std::vector<std::string>;

namespace {
struct UnplugCase : testing::Test {
    // In the test process's private runtime folder.
    const std::string flash = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" +
                              testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    UnplugCase() { ScopeLink::s_openFailures = 0; }
    testsupport::VirtualScopeProcess Scope(const Strings& faults) const {
        Strings o = {"--firmware", "bootloader", "--blocks-per-sector", "2",
                     "--sectors",  "2",          "--flash-file",        flash};
        for (const char* delay : {"--throughput", "--latency-ms", "--erase-ms", "--program-ms"})
            o.insert(o.end(), {delay, "0"});
        o.insert(o.end(), faults.begin(), faults.end());
        return testsupport::VirtualScopeProcess(o);
    }
    // The commands the scope took, in order: "hello" or code:address, e.g. "FE:1".
    static Strings Commands(const testsupport::VirtualScopeProcess& scope) {
        using testsupport::Field;
        Strings commands;
        for (const std::string& line : scope.LogLines())
            if (const std::string code = Field(line, "code"); Field(line, "ev") == "cmd")
                commands.push_back(code == "0xFF" ? "hello" : code.substr(2) + ":" + Field(line, "addr"));
        return commands;
    }
};
} // namespace

TEST_F(UnplugCase, NoCommandAfterTheLastReplyIsAnswered) {
    const auto scope = Scope({"--unplug-after-commands", "1"});
    ScopeLink link;
    ASSERT_EQ(link.Connect(), ScopeLink::kReady) << "the hello, command 1, is answered";
    // At once, while the scope still waits for the host to take that reply.
    EXPECT_EQ(link.EraseSector(0), 0) << "the scope answered a command after its last";
    EXPECT_EQ(scope.WaitForEvents("unplug", 1).size(), 1u);
    EXPECT_EQ(Commands(scope), (Strings{"hello"}));
    EXPECT_FALSE(std::filesystem::exists(flash));
}

TEST_F(UnplugCase, AfterTheReplugTheNextHelloIsAnswered) {
    const auto scope = Scope({"--unplug-after-commands", "2", "--replug-after-ms", "50"});
    ScopeLink link;
    ASSERT_EQ(link.Connect(), ScopeLink::kReady);
    EXPECT_EQ(link.QueryGeometry(), 1) << "command 2 is answered";
    EXPECT_EQ(link.BlankCheck(0), 0);
    int connected = ScopeLink::kNotYet;
    for (int i = 0; i < 100 && connected == ScopeLink::kNotYet; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        connected = link.Connect();
    }
    EXPECT_EQ(connected, ScopeLink::kReady);
    EXPECT_EQ(link.EraseSector(1), loader::BootPacket::kAcknowledged);
    EXPECT_EQ(Commands(scope), (Strings{"hello", "FA:0", "hello", "FE:1"}));
}
