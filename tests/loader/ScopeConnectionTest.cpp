// Counting, opening and connecting to the scope through the real driver library.
#include "LoaderTestKit.h"
#include "ScopeLink.h"

using namespace loadertest;
using testsupport::VirtualScopeProcess;

namespace {
class ScopeConnection : public testing::Test {
  protected:
    void SetUp() override { ScopeLink::s_openFailures = 0, recordedCalls.clear(); }
    // Connect results while device 0 is listed but held by another program.
    std::vector<int> ConnectWhileBusy(ScopeLink& link, int times) {
        VirtualScopeProcess busy(BootLoaderOptions(2, 2, folder.Path("flash.bin"), {"--busy"}));
        EXPECT_TRUE(WaitUntilDeviceIsBusy());
        std::vector<int> results;
        while (times-- > 0)
            results.push_back(link.Connect());
        return results;
    }
    TempFolder folder;
};
} // namespace

TEST_F(ScopeConnection, ConnectConfiguresTheLinkAndSaysHelloInOrder) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, folder.Path("flash.bin")));
    {
        ScopeLink link(RecordingDriver());
        EXPECT_EQ(link.Connect(), 1);
        EXPECT_EQ(recordedCalls,
                  (Strings{"ListDevices number-only", "Open 0", "SetUSBParameters 4096 0", "ResetDevice",
                           "SetTimeouts 2000 1000", "Purge 1", "Write 7", "Read 6"}));
        recordedCalls.clear();
    }
    // Destroying the link closes its handle, so the device is free for the next program.
    EXPECT_EQ(recordedCalls, (Strings{"Close"}));
    ScopeLink again;
    ASSERT_EQ(again.Connect(), 1);
    // Showing the device count ends the link: a command afterwards sends nothing.
    EXPECT_EQ(again.DeviceCountText(), "Not Connected... 1 device is found");
    EXPECT_FALSE(again.IsOpen());
    EXPECT_EQ(again.EraseSector(0), 0);
    EXPECT_EQ(CommandsInLog(scope.LogLines()), (Strings{"hello", "hello"}));
}

TEST_F(ScopeConnection, OpenFailuresGiveUpOnTheSixthInARowUnlessNoDeviceIsFoundBetween) {
    ScopeLink link(RecordingDriver());
    EXPECT_EQ(ConnectWhileBusy(link, 7), (std::vector<int>{2, 2, 2, 2, 2, 3, 3}));
    EXPECT_FALSE(link.IsOpen());
    ScopeLink::s_openFailures = 0;
    EXPECT_EQ(ConnectWhileBusy(link, 5), std::vector<int>(5, 2));
    recordedCalls.clear();
    EXPECT_EQ(link.Connect(), 2); // no device, so no open either
    EXPECT_EQ(recordedCalls, (Strings{"ListDevices number-only"}));
    EXPECT_EQ(link.DeviceCountText(), "Not Connected... 0 device is found");
    EXPECT_EQ(ConnectWhileBusy(link, 5), std::vector<int>(5, 2));

    // A hello that is not answered still resets the count and leaves the handle open.
    VirtualScopeProcess screen({"--firmware", "screen", "--throughput", "0", "--latency-ms", "0"});
    ScopeLink::s_openFailures = 5;
    EXPECT_EQ(link.Connect(), 2);
    EXPECT_EQ(ScopeLink::s_openFailures, 0);
    EXPECT_TRUE(link.IsOpen());
}
