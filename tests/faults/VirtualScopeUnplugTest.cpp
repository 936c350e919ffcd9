// The virtual scope as the fault campaign uses it: a scope told to go away
// after the reply to command N must answer nothing after that reply, however
// quickly the host sends its next command. Driven through Haldrin's real link
// and our driver library.
#include "BootPacket.h"
#include "ScopeLink.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

using loader::BootPacket;
using loader::ScopeLink;
using Strings = std::vector<std::string>;

namespace {
struct UnplugCase : testing::Test {
    std::string folder = (std::filesystem::temp_directory_path() / "haldrin-unplug-XXXXXX").string();
    void SetUp() override {
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        ScopeLink::s_openFailures = 0;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string Flash() const { return folder + "/flash.bin"; }
    Strings Options(Strings faults) const {
        Strings o = {"--firmware",   "bootloader", "--blocks-per-sector", "2", "--sectors",    "2",
                     "--flash-file", Flash(),      "--throughput",        "0", "--latency-ms", "0",
                     "--erase-ms",   "0",          "--program-ms",        "0"};
        o.insert(o.end(), faults.begin(), faults.end());
        return o;
    }
    // The commands the scope took, in order: "hello" or code:address, e.g. "FE:1".
    static Strings Commands(const testsupport::VirtualScopeProcess& scope) {
        Strings commands;
        for (const std::string& line : scope.LogLines())
            if (testsupport::Field(line, "ev") == "cmd") {
                const std::string code = testsupport::Field(line, "code");
                commands.push_back(code == "0xFF" ? "hello"
                                                  : code.substr(2) + ":" + testsupport::Field(line, "addr"));
            }
        return commands;
    }
};
} // namespace

TEST_F(UnplugCase, NoCommandAfterTheLastReplyIsAnswered) {
    testsupport::VirtualScopeProcess scope(Options({"--unplug-after-commands", "1"}));
    ScopeLink link;
    ASSERT_EQ(link.Connect(), ScopeLink::kReady) << "the hello, command 1, is answered";
    // At once, while the scope still waits for the host to take that reply.
    EXPECT_EQ(link.EraseSector(0), 0) << "the erase was answered: the scope took a command after its last";
    EXPECT_EQ(scope.WaitForEvents("unplug", 1).size(), 1u);
    EXPECT_EQ(Commands(scope), (Strings{"hello"}));
    EXPECT_FALSE(std::filesystem::exists(Flash()));
}

TEST_F(UnplugCase, AfterTheReplugTheNextHelloIsAnswered) {
    testsupport::VirtualScopeProcess scope(
        Options({"--unplug-after-commands", "2", "--replug-after-ms", "50"}));
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
    EXPECT_EQ(link.EraseSector(1), BootPacket::kAcknowledged);
    EXPECT_EQ(Commands(scope), (Strings{"hello", "FA:0", "hello", "FE:1"}));
}
