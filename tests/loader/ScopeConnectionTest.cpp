// Counting, opening and connecting to the scope through the real driver library.
#include "LoaderTestFiles.h"
#include "RecordingDriver.h"
#include "ScopeLink.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

using loadertest::BootLoaderOptions;
using loadertest::RecordedCalls;
using loadertest::RecordingDriver;
using loadertest::TempFolder;
using testsupport::VirtualScopeProcess;

namespace {
class ScopeConnection : public testing::Test {
  protected:
    void SetUp() override {
        ScopeLink::s_openFailures = 0;
        RecordedCalls().clear();
    }
    TempFolder folder;
};
} // namespace

TEST_F(ScopeConnection, ConnectConfiguresTheLinkAndSaysHelloInOrder) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, folder.Path("flash.bin")));
    ScopeLink link(RecordingDriver());
    EXPECT_EQ(link.Connect(), 1);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(RecordedCalls(), (std::vector<std::string>{
                                   "ListDevices number-only", "Open 0", "SetUSBParameters 4096 0",
                                   "ResetDevice", "SetTimeouts 2000 1000", "Purge 1", "Write 7", "Read 6"}));
    // Every later command empties the receive queue before it is sent.
    RecordedCalls().clear();
    EXPECT_EQ(link.EraseSector(1), 'A');
    EXPECT_EQ(RecordedCalls(), (std::vector<std::string>{"Purge 1", "Write 7", "Read 6"}));
}

TEST_F(ScopeConnection, NoDeviceGivesTwoWithoutOpening) {
    ScopeLink link(RecordingDriver());
    EXPECT_EQ(link.Connect(), 2);
    EXPECT_EQ(link.DeviceCountText(), "Not Connected... 0 device is found");
    EXPECT_EQ(RecordedCalls(),
              (std::vector<std::string>{"ListDevices number-only", "ListDevices number-only"}));
}

TEST_F(ScopeConnection, OpenFailuresGiveUpOnTheSixthInARow) {
    std::vector<int> results;
    {
        VirtualScopeProcess busy(BootLoaderOptions(2, 2, folder.Path("flash.bin"), {"--busy"}));
        ASSERT_TRUE(loadertest::WaitUntilDeviceIsBusy());
        ScopeLink link;
        for (int i = 0; i < 7; ++i)
            results.push_back(link.Connect());
        EXPECT_FALSE(link.IsOpen());
    }
    EXPECT_EQ(results, (std::vector<int>{2, 2, 2, 2, 2, 3, 3}));
}

TEST_F(ScopeConnection, FindingNoDeviceOrOpeningOneResetsTheCount) {
    ScopeLink link;
    std::vector<int> results;
    {
        VirtualScopeProcess busy(BootLoaderOptions(2, 2, folder.Path("flash.bin"), {"--busy"}));
        ASSERT_TRUE(loadertest::WaitUntilDeviceIsBusy());
        for (int i = 0; i < 5; ++i)
            results.push_back(link.Connect());
    }
    results.push_back(link.Connect()); // no device
    {
        VirtualScopeProcess busy(BootLoaderOptions(2, 2, folder.Path("flash.bin"), {"--busy"}));
        ASSERT_TRUE(loadertest::WaitUntilDeviceIsBusy());
        for (int i = 0; i < 5; ++i)
            results.push_back(link.Connect());
    }
    EXPECT_EQ(results, std::vector<int>(11, 2));

    // A hello that is not answered still resets the count and leaves the handle open.
    VirtualScopeProcess screen({"--firmware", "screen", "--throughput", "0", "--latency-ms", "0"});
    ScopeLink::s_openFailures = 5;
    EXPECT_EQ(link.Connect(), 2);
    EXPECT_EQ(ScopeLink::s_openFailures, 0);
    EXPECT_TRUE(link.IsOpen());
}

TEST_F(ScopeConnection, TwoDevicesAreCountedAndOnlyTheFirstIsOpened) {
    VirtualScopeProcess first(BootLoaderOptions(2, 2, folder.Path("flash0.bin")), "scope0");
    VirtualScopeProcess second(BootLoaderOptions(2, 2, folder.Path("flash1.bin")), "scope1");
    ScopeLink link;
    EXPECT_EQ(link.DeviceCountText(), "Not Connected... 2 device is found");
    ASSERT_EQ(link.Connect(), 1);
    EXPECT_EQ(loadertest::CommandsInLog(first.LogLines()), (std::vector<std::string>{"hello"}));
    EXPECT_TRUE(loadertest::CommandsInLog(second.LogLines()).empty());

    // Showing the device count ends the link: a command afterwards sends nothing.
    link.DeviceCountText();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.EraseSector(0), 0);
    EXPECT_EQ(loadertest::CommandsInLog(first.LogLines()).size(), 1u);
}

TEST_F(ScopeConnection, DestroyingTheLinkClosesItsHandle) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, folder.Path("flash.bin")));
    {
        ScopeLink link(RecordingDriver());
        ASSERT_EQ(link.Connect(), 1);
        RecordedCalls().clear();
    }
    EXPECT_EQ(RecordedCalls(), (std::vector<std::string>{"Close"}));
    ScopeLink again;
    EXPECT_EQ(again.Connect(), 1);
}
