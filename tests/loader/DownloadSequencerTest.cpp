// Whole downloads through the real sequencer, ScopeLink and driver library into
// the virtual scope's boot loader, on a fake timer queue and clock.
#include "DownloadSequencer.h"
#include "LoaderControls.h"
#include "LoaderFakes.h"
#include "LoaderTestFiles.h"
#include "LoaderTexts.h"
#include "VirtualScopeProcess.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace controls;
using loadertest::BootLoaderOptions;
using loadertest::CommandsInLog;
using loadertest::Pattern;
using loadertest::ReadBytes;
using loadertest::TempFolder;
using loadertest::WriteBytes;
using testsupport::VirtualScopeProcess;
using Strings = std::vector<std::string>;

namespace {
class Download : public testing::Test {
  protected:
    void SetUp() override { ScopeLink::s_openFailures = 0; }

    // An image file of the given length, and what the flash must hold after
    // blocks 0 to T: the file, then the buffer's fill.
    std::string MakeImage(std::size_t length, unsigned seed = 7) {
        const std::string path = folder.Path("image" + std::to_string(seed) + ".BIN");
        image = Pattern(length, seed);
        WriteBytes(path, image);
        return path;
    }
    std::vector<std::uint8_t> ExpectedFlash(std::size_t flashBytes) const {
        std::vector<std::uint8_t> expected(flashBytes, 0xFF);
        std::copy(image.begin(), image.end(), expected.begin());
        return expected;
    }
    std::string Flash() const { return folder.Path("flash.bin"); }

    // Runs timers until none is armed or the window ended.
    int Run(int limit = 20000) {
        int steps = 0;
        while (!prompts.ended && steps < limit &&
               timers.RunNext([this](int id) { sequencer.OnLoaderTimer(id); }))
            ++steps;
        return steps;
    }
    // Runs single timers until the predicate holds.
    void RunUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 20000 && !done(); ++i)
            ASSERT_TRUE(timers.RunNext([this](int id) { sequencer.OnLoaderTimer(id); }));
    }

    TempFolder folder;
    std::vector<std::uint8_t> image;
    FakeClock clock;
    FakeTimers timers{clock};
    FakeView view;
    FakePrompts prompts;
    ScopeLink link;
    DownloadSequencer sequencer{link, timers, clock, view, prompts};
};
} // namespace

TEST_F(Download, ThreeBlocksIntoTwoBlockSectors) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, Flash()));
    const std::string path = MakeImage(5000);
    prompts.files = {path};
    sequencer.ResetWindow();
    Run();

    EXPECT_EQ(CommandsInLog(scope.LogLines()), (Strings{"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1",
                                                        "FE:1", "FC:1", "FD:2", "FD:3", "FB:0"}));
    EXPECT_EQ(timers.fired, (std::vector<int>{1, 240, 250, 254, 252, 253, 253, 254, 252, 253, 253, 255}));
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(8192));
    EXPECT_EQ(view.rangeHistory[kSectorBar], (std::vector<int>{20, 19}));
    EXPECT_EQ(view.positionHistory[kSectorBar], (std::vector<int>{0, 0, 10, 18, 18, 19, 0, 10, 18, 18, 19}));
    EXPECT_EQ(view.ranges[kTotalBar], std::make_pair(0, 3));
    EXPECT_EQ(view.positionHistory[kTotalBar], (std::vector<int>{0, 0, 1, 2, 3}));
    EXPECT_EQ(view.texts[kFileName], path);
    EXPECT_EQ(view.texts[kFileSize], "5,000 Bytes");
    EXPECT_EQ(view.texts[kStatus], "  ");
    EXPECT_EQ(view.texts[kErrorCount], "  0");
    // First erase: nothing acknowledged yet. Last block: 4 blocks in 9 fake ms.
    EXPECT_EQ(view.textHistory[kTransferRate].at(1), "0,000 CPS");
    EXPECT_EQ(view.textHistory[kEstimatedTime].at(1), "100 : 39");
    EXPECT_EQ(view.texts[kTransferRate], "910,222 CPS");
    EXPECT_EQ(view.texts[kEstimatedTime], "00 : 00");
    EXPECT_EQ(view.texts[kElapsedTime], "00 : 00");
    EXPECT_EQ(prompts.finishDialogs, 1);
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Cancel);
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_TRUE(prompts.messages.empty());
    // Once the last block is acknowledged, Exit ends the window without asking.
    prompts.ended.reset();
    sequencer.OnExit();
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Cancel);
    EXPECT_TRUE(prompts.questions.empty());
}

TEST_F(Download, BlockCountMultipleOfTheSectorSizeTakesOneMoreSector) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 3, Flash()));
    prompts.files = {MakeImage(7000)};
    sequencer.ResetWindow();
    Run();
    EXPECT_EQ(CommandsInLog(scope.LogLines()),
              (Strings{"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1", "FE:1", "FC:1", "FD:2", "FD:3",
                       "FE:2", "FC:2", "FD:4", "FB:0"}));
    EXPECT_EQ(view.rangeHistory[kSectorBar], (std::vector<int>{20, 20, 18}));
    EXPECT_EQ(view.positions[kTotalBar], 4);
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(12288));
}

TEST_F(Download, TenFailuresAreRetriedAcrossStepsAndTheDownloadCompletes) {
    // 1 hello; failures: 2 geometry, 4 erase 0, 6 blank 0, 10-12 erase 1, 14-17 blank 1.
    VirtualScopeProcess scope(
        BootLoaderOptions(2, 2, Flash(), {"--fault", "status@2,4,6,10,11,12,14,15,16,17"}));
    prompts.files = {MakeImage(5000)};
    sequencer.ResetWindow();
    Run();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(prompts.finishDialogs, 1);
    EXPECT_EQ(sequencer.ErrorCount(), 10);
    EXPECT_EQ(view.texts[kErrorCount], " 10");
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(8192));
    int retries = 0;
    for (const auto& arming : timers.armings)
        retries += arming.id != 1 && arming.periodMs == 100;
    EXPECT_EQ(retries, 10);
    // A failed erase repeats the whole step: the bar goes back to 0 each time.
    const std::vector<int> sector1(view.positionHistory[kSectorBar].begin() + 7,
                                   view.positionHistory[kSectorBar].end());
    EXPECT_EQ(sector1, (std::vector<int>{0, 0, 0, 0, 10, 18, 18, 19}));
}

TEST_F(Download, EleventhFailureHaltsWithTheServiceMessage) {
    VirtualScopeProcess scope(
        BootLoaderOptions(2, 2, Flash(), {"--fault", "status@2,4,6,10,11,12,14,15,16,17,18"}));
    prompts.files = {MakeImage(5000)};
    sequencer.ResetWindow();
    Run();
    EXPECT_EQ(prompts.messages, (Strings{texts::kServiceProblem}));
    EXPECT_EQ(view.texts[kErrorCount], " 11");
    EXPECT_EQ(view.texts[kStatus], "Blank Check ");
    EXPECT_EQ(timers.ArmedCount(), 0u);
    EXPECT_EQ(CommandsInLog(scope.LogLines()).size(), 18u);
    EXPECT_EQ(prompts.finishDialogs, 0);
    EXPECT_FALSE(view.Enabled(kConnect));
    EXPECT_FALSE(view.Enabled(kOpenBin));
    EXPECT_FALSE(std::filesystem::exists(Flash()));
}

TEST_F(Download, ImageLargerThanTheFlashIsRefusedAfterTenRetries) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, Flash()));
    prompts.files = {MakeImage(9000)};
    sequencer.ResetWindow();
    Run();
    EXPECT_EQ(prompts.messages, (Strings{texts::kFileMismatch}));
    Strings expected{"hello"};
    expected.insert(expected.end(), 11, "FA:0");
    EXPECT_EQ(CommandsInLog(scope.LogLines()), expected);
    EXPECT_EQ(sequencer.ErrorCount(), 11);
    EXPECT_EQ(view.texts[kErrorCount], "  0");
    EXPECT_EQ(timers.ArmedCount(), 0u);
}

TEST_F(Download, HelloBeforeAnyImageOpensTheSelectionAndCancelWaitsForConnect) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, Flash()));
    sequencer.ResetWindow();
    EXPECT_TRUE(view.Enabled(kConnect));
    Run();
    EXPECT_EQ(prompts.chooserOpenings, 1);
    EXPECT_EQ(view.texts[kStatus], texts::kReady);
    EXPECT_TRUE(view.Enabled(kConnect));
    EXPECT_EQ(timers.ArmedCount(), 0u);
    EXPECT_EQ(CommandsInLog(scope.LogLines()), (Strings{"hello"}));

    // Idle: a Connect that finds no scope does nothing.
    scope.Unplug();
    sequencer.OnConnect();
    EXPECT_EQ(timers.ArmedCount(), 0u);
    EXPECT_EQ(prompts.chooserOpenings, 1);

    scope.Replug();
    prompts.files = {MakeImage(3000)};
    sequencer.OnConnect();
    EXPECT_EQ(prompts.chooserOpenings, 2);
    EXPECT_FALSE(view.Enabled(kConnect));
    Run();
    EXPECT_EQ(prompts.finishDialogs, 1);
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(8192));
}

TEST_F(Download, ContinueClearsTheImageAndPollsAgain) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, Flash()));
    prompts.files = {MakeImage(1000)};
    prompts.finishChoice = LoaderPrompts::FinishChoice::Continue;
    sequencer.ResetWindow();
    RunUntil([&] { return prompts.finishDialogs == 1; });
    EXPECT_EQ(link.ImageLength(), 0);
    EXPECT_EQ(sequencer.BlockIndex(), 0);
    EXPECT_EQ(sequencer.ErrorCount(), 0);
    EXPECT_EQ(sequencer.SectorIndex(), 0);
    EXPECT_EQ(view.texts[kFileName], "Not Selected");
    EXPECT_EQ(view.texts[kFileSize], "Unknown");
    EXPECT_EQ(view.texts[kTransferRate], "0,000 CPS");
    EXPECT_EQ(view.texts[kStatus], "Not Connected ....... ");
    EXPECT_EQ(view.positions[kTotalBar], 0);
    EXPECT_EQ(view.positions[kSectorBar], 0);
    EXPECT_TRUE(view.Enabled(kOpenBin));
    EXPECT_TRUE(timers.IsArmed(1));
    const auto& last = timers.armings.back();
    EXPECT_EQ(last.id, 1);
    EXPECT_EQ(last.periodMs, 100);
    EXPECT_FALSE(prompts.ended.has_value());
    // The poll finds the scope again and asks for the next image.
    Run();
    EXPECT_EQ(prompts.chooserOpenings, 2);
    EXPECT_EQ(prompts.finishDialogs, 1);
}

TEST_F(Download, SixFailedOpensEndTheWindowWithTheEnvironmentMessage) {
    VirtualScopeProcess busy(BootLoaderOptions(2, 2, Flash(), {"--busy"}));
    ASSERT_TRUE(loadertest::WaitUntilDeviceIsBusy());
    sequencer.ResetWindow();
    Run();
    EXPECT_EQ(prompts.messages, (Strings{texts::kEnvironmentProblem}));
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Ok);
    EXPECT_EQ(timers.fired, std::vector<int>(6, 1));
    EXPECT_EQ(view.texts[kStatus], "Not Connected... 1 device is found");
}

TEST_F(Download, NoSecondSelectionWhileOneIsOpenOrADownloadRuns) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, Flash()));
    const std::string first = MakeImage(5000, 1);
    const std::vector<std::uint8_t> firstImage = image;
    sequencer.ResetWindow();
    // Open BIN pressed before the scope is ready: the poll finds the boot
    // loader while the selection is open and must not open another.
    prompts.whileChoosing = [&] { Run(); };
    prompts.files = {first};
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.chooserOpenings, 1);
    EXPECT_EQ(link.ImageLength(), 6144);
    EXPECT_TRUE(view.Enabled(kConnect));

    sequencer.OnConnect();
    RunUntil([&] { return sequencer.BlockIndex() == 1; });
    const std::string second = MakeImage(100, 2);
    prompts.files = {second};
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.chooserOpenings, 1);
    Run();
    image = firstImage;
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(8192));
}

TEST_F(Download, FilesTooLongOrUnreadableAreRefusedAndChangeNothing) {
    sequencer.ResetWindow();
    const std::string huge = folder.Path("huge.BIN");
    WriteBytes(huge, {});
    std::filesystem::resize_file(huge, 8386560);
    prompts.files = {huge};
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.messages, (Strings{texts::kFileTooLong}));
    EXPECT_NE(prompts.messages[0].find("8,386,560 bytes"), std::string::npos);
    EXPECT_EQ(view.texts[kFileName], "Not Selected");
    EXPECT_EQ(view.texts[kFileSize], "Unknown");
    EXPECT_TRUE(view.Enabled(kOpenBin));
    EXPECT_EQ(view.ranges.count(kTotalBar), 0u);
    EXPECT_EQ(link.ImageLength(), 0);

    const std::string path = MakeImage(3000);
    prompts.files = {path, folder.Path("")};
    sequencer.OnOpenBin();
    EXPECT_EQ(link.ImageLength(), 4096);
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.messages.back(), texts::kFileUnreadable);
    EXPECT_EQ(view.texts[kFileName], path);
    EXPECT_EQ(view.texts[kFileSize], "3,000 Bytes");
    EXPECT_EQ(link.ImageLength(), 4096);
    EXPECT_EQ(sequencer.ImageBlocks(), 2);

    // The longest file that fits: T = 4095, so block T is the buffer's last.
    std::filesystem::resize_file(huge, 8386559);
    prompts.files = {huge};
    sequencer.OnOpenBin();
    EXPECT_EQ(view.texts[kFileSize], "8,386,559 Bytes");
    EXPECT_EQ(view.ranges[kTotalBar], std::make_pair(0, 4095));
}

TEST_F(Download, FileThatCannotBeOpenedShowsEmptySizeAndDisablesOpenBin) {
    sequencer.ResetWindow();
    prompts.files = {folder.Path("gone.BIN")};
    sequencer.OnOpenBin();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(view.texts[kFileName], folder.Path("gone.BIN"));
    EXPECT_EQ(view.texts[kFileSize], "");
    EXPECT_FALSE(view.Enabled(kOpenBin));
    EXPECT_EQ(view.ranges[kTotalBar], std::make_pair(0, 0));
}

TEST_F(Download, ExitAsksAndNoChangesNothing) {
    sequencer.ResetWindow();
    sequencer.OnExit();
    EXPECT_EQ(prompts.questions, (Strings{texts::kQuitQuestion}));
    EXPECT_FALSE(prompts.ended.has_value());
    EXPECT_TRUE(timers.IsArmed(1));
    prompts.answerYes = true;
    sequencer.OnExit();
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Cancel);
}

// Unsolicited bytes after the erase reply would answer the failing blank check
// with 'A' if they stayed queued; the purge leaves the blank check its own 'X'.
TEST_F(Download, UnsolicitedAcknowledgementCannotHideAFailure) {
    VirtualScopeProcess scope(
        BootLoaderOptions(2, 2, Flash(), {"--fault", "noise@3", "--fault", "status@4"}));
    prompts.files = {MakeImage(5000)};
    sequencer.ResetWindow();
    Run();
    EXPECT_EQ(sequencer.ErrorCount(), 1);
    EXPECT_EQ(prompts.finishDialogs, 1);
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(8192));
}

TEST_F(Download, LateReplyIsNotTakenForTheRetry) {
    VirtualScopeProcess scope(BootLoaderOptions(2, 2, Flash(), {"--fault", "late@3", "--late-ms", "2050"}));
    prompts.files = {MakeImage(5000)};
    sequencer.ResetWindow();
    Run();
    EXPECT_EQ(sequencer.ErrorCount(), 1);
    EXPECT_EQ(prompts.finishDialogs, 1);
    EXPECT_EQ(CommandsInLog(scope.LogLines()), (Strings{"hello", "FA:0", "FE:0", "FE:0", "FC:0", "FD:0",
                                                        "FD:1", "FE:1", "FC:1", "FD:2", "FD:3", "FB:0"}));
    EXPECT_EQ(ReadBytes(Flash()), ExpectedFlash(8192));
}
