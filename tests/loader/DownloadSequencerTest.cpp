// Whole downloads through the real sequencer, ScopeLink and driver library into
// the virtual scope's boot loader, on a fake timer queue and clock.
#include "DownloadSequencer.h"
#include "LoaderControls.h"
#include "LoaderTestKit.h"
#include "LoaderTexts.h"

using namespace controls;
using namespace loadertest;
using Ints = std::vector<int>;
using Timing = std::pair<int, int>;
using Running = std::vector<bool>;

namespace {
struct DownloadRig {
    DownloadRig() { ScopeLink::s_openFailures = 0, recordedCalls.clear(); }
    // A scope of sectors x p blocks, an image file of the given length to be selected (none for 0),
    // and the window's start values.
    void Start(int p, int sectors, std::size_t length, Strings extra = {}) {
        scope.emplace(BootLoaderOptions(p, sectors, flash, extra));
        if (length > 0)
            prompts.files = {MakeImage(length)};
        sequencer.ResetWindow();
    }
    std::string MakeImage(std::size_t length, unsigned seed = 7) {
        const std::string path = folder.Path("image" + std::to_string(seed) + ".BIN");
        WriteBytes(path, image = Pattern(length, seed));
        return path;
    }
    // The flash starts with the image, then the buffer's fill.
    void ExpectFlashHoldsTheImage(std::size_t flashBytes) const {
        Bytes expected(flashBytes, 0xFF);
        std::copy(image.begin(), image.end(), expected.begin());
        Bytes flashed = ReadBytes(flash);
        flashed.resize(std::min(flashed.size(), flashBytes));
        EXPECT_EQ(flashed, expected);
    }
    // Runs timers until none is armed, the window ended, or done holds.
    void RunTimers(const std::function<bool()>& done = [] { return false; }) {
        for (int i = 0; i < 20000 && !prompts.ended && !done(); ++i)
            if (!timers.RunNext([this](int id) { sequencer.OnLoaderTimer(id); }))
                return;
    }
    long Retries() const {
        return std::count_if(timers.armings.begin(), timers.armings.end(),
                             [](const Timing& t) { return t.first != 1 && t.second == 100; });
    }

    TempFolder folder;
    std::string flash = folder.Path("flash.bin");
    Bytes image;
    std::optional<testsupport::VirtualScopeProcess> scope;
    FakeClock clock;
    FakeTimers timers{clock};
    FakeView view;
    FakePrompts prompts;
    FakeActivity activity;
    ScopeLink link{RecordingDriver()};
    DownloadSequencer sequencer{link, timers, clock, view, prompts, &activity};
};
class Download : public testing::Test, protected DownloadRig {};
} // namespace

// T = 3 into sectors of P = 2 blocks, Continue, then T = 4: one more sector for the last block.
TEST_F(Download, ThreeBlocksThenAfterContinueFourBlocksIntoTwoBlockSectors) {
    Start(2, 3, 5000);
    prompts.finishChoice = LoaderPrompts::FinishChoice::Continue;
    RunTimers([&] { return prompts.finishDialogs == 1; });
    Strings commands = {"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1",
                        "FE:1",  "FC:1", "FD:2", "FD:3", "FB:0"};
    EXPECT_EQ(CommandsInLog(scope->LogLines()), commands);
    ExpectFlashHoldsTheImage(8192);
    EXPECT_EQ(view.maxima[kSectorBar], (Ints{20, 19}));
    EXPECT_EQ(view.positions[kSectorBar], (Ints{0, 0, 10, 18, 18, 19, 0, 10, 18, 18, 19, 0}));
    EXPECT_EQ(view.maxima[kTotalBar], (Ints{3}));
    EXPECT_EQ(view.positions[kTotalBar], (Ints{0, 0, 1, 2, 3, 0}));
    // First erase: nothing acknowledged yet. Last block: 4 blocks in 9 fake ms.
    EXPECT_EQ(view.texts[kEstimatedTime].at(1), "100 : 39");
    EXPECT_EQ(view.texts[kTransferRate].end()[-2], "910,222 CPS");
    // Continue: back to the texts of the first reset (the dialog test checks them), polling again.
    for (int id : {kFileName, kFileSize, kErrorCount, kEstimatedTime, kElapsedTime, kTransferRate, kStatus})
        EXPECT_EQ(view.Text(id), view.texts[id].front()) << id;
    EXPECT_TRUE(view.enabled_[kOpenBin] && view.enabled_[kConnect]);
    EXPECT_EQ(link.ImageLength() + sequencer.BlockIndex() + sequencer.ErrorCount(), 0);
    EXPECT_EQ(sequencer.SectorIndex(), 0);
    EXPECT_EQ(timers.armings.back(), Timing(1, 100));
    EXPECT_FALSE(prompts.ended.has_value());
    EXPECT_EQ(activity.calls, (Running{true, false})); // from the start of the run to its end

    prompts.files = {MakeImage(7000, 8)};
    prompts.finishChoice = LoaderPrompts::FinishChoice::Finish;
    RunTimers();
    commands.insert(commands.end(), {"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1", "FE:1", "FC:1", "FD:2",
                                     "FD:3", "FE:2", "FC:2", "FD:4", "FB:0"});
    EXPECT_EQ(CommandsInLog(scope->LogLines()), commands);
    ExpectFlashHoldsTheImage(12288);
    EXPECT_EQ(view.maxima[kSectorBar], (Ints{20, 19, 20, 20, 18}));
    EXPECT_EQ(view.positions[kTotalBar].back(), 4);
    EXPECT_EQ(view.Text(kStatus), "  ");
    EXPECT_EQ(prompts.finishDialogs, 2);
    EXPECT_EQ(activity.calls, (Running{true, false, true, false}));
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Cancel);
    EXPECT_TRUE(prompts.messages.empty());
    // Every command, the hello included, empties the receive queue first.
    for (std::size_t i = 1; i < recordedCalls.size(); ++i)
        EXPECT_TRUE(recordedCalls[i].rfind("Write", 0) != 0 || recordedCalls[i - 1] == "Purge 1") << i;
    // Once the last block is acknowledged, Exit ends the window without asking.
    prompts.ended.reset();
    sequencer.OnExit();
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Cancel);
    EXPECT_TRUE(prompts.questions.empty());
}

// One budget of ten retries for all steps (geometry, erase, blank check, data);
// the eleventh failure halts with the step's message.
TEST(DownloadErrorBudget, TenFailuresAreRetriedTheEleventhHalts) {
    struct Case {
        const char* name;
        std::size_t imageLength;
        const char* faults; // 1 hello; 2 geometry, 4 erase 0, 6 blank 0, 10-12 erase 1, 14-18 blank 1
        const char* message;
        const char* errorText;
        std::size_t commands;
    };
    const Case cases[] = {
        {"ten across steps", 5000, "status@2,4,6,10,11,12,14,15,16,17", nullptr, " 10", 21},
        {"eleventh", 5000, "status@2,4,6,10,11,12,14,15,16,17,18", texts::kServiceProblem, " 11", 18},
        {"image larger than the flash", 9000, "", texts::kFileMismatch, "  0", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DownloadRig rig;
        rig.Start(2, 2, c.imageLength, *c.faults ? Strings{"--fault", c.faults} : Strings{});
        rig.RunTimers();
        EXPECT_EQ(rig.prompts.messages, c.message ? Strings{c.message} : Strings{});
        EXPECT_EQ(rig.view.Text(kErrorCount), c.errorText);
        EXPECT_EQ(CommandsInLog(rig.scope->LogLines()).size(), c.commands);
        EXPECT_EQ(rig.Retries(), 10);
        EXPECT_EQ(rig.prompts.finishDialogs, c.message ? 0 : 1);
        EXPECT_EQ(rig.activity.calls, (Running{true, false})) << "a halt ends the run too";
        // A halt leaves the buttons off and no flash written (no end command was sent).
        EXPECT_EQ(rig.view.enabled_[kConnect] || rig.view.enabled_[kOpenBin], false);
        EXPECT_EQ(std::filesystem::exists(rig.flash), !c.message);
        if (c.message)
            EXPECT_TRUE(rig.timers.due.empty());
        else
            rig.ExpectFlashHoldsTheImage(8192);
    }
    // A failed erase repeats the whole step: the sector bar goes back to 0 each time.
    DownloadRig rig;
    rig.Start(2, 2, 5000, {"--fault", cases[0].faults});
    rig.RunTimers();
    EXPECT_EQ(Ints(rig.view.positions[kSectorBar].begin() + 7, rig.view.positions[kSectorBar].end()),
              (Ints{0, 0, 0, 0, 10, 18, 18, 19}));
}

// Exit answered No leaves the run going; Yes ends the window and the run.
TEST_F(Download, ExitDuringARunEndsTheRunWhenConfirmed) {
    Start(2, 2, 5000);
    RunTimers([&] { return sequencer.BlockIndex() == 1; });
    sequencer.OnExit();
    EXPECT_EQ(activity.calls, (Running{true}));
    prompts.answerYes = true;
    sequencer.OnExit();
    EXPECT_EQ(activity.calls, (Running{true, false}));
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Cancel);
}

TEST_F(Download, HelloBeforeAnyImageOpensTheSelectionAndCancelWaitsForConnect) {
    Start(2, 2, 0);
    RunTimers();
    EXPECT_EQ(prompts.chooserOpenings, 1);
    EXPECT_EQ(view.Text(kStatus), texts::kReady);
    EXPECT_TRUE(view.enabled_[kConnect]);
    EXPECT_TRUE(timers.due.empty());
    EXPECT_EQ(CommandsInLog(scope->LogLines()), (Strings{"hello"}));
    prompts.files = {MakeImage(3000)};
    sequencer.OnConnect();
    EXPECT_EQ(prompts.chooserOpenings, 2);
    EXPECT_FALSE(view.enabled_[kConnect]);
    RunTimers();
    EXPECT_EQ(prompts.finishDialogs, 1);
    ExpectFlashHoldsTheImage(8192);
}

TEST_F(Download, SixFailedOpensEndTheWindowWithTheEnvironmentMessage) {
    Start(2, 2, 0, {"--busy"});
    ASSERT_TRUE(WaitUntilDeviceIsBusy());
    RunTimers();
    EXPECT_EQ(prompts.messages, (Strings{texts::kEnvironmentProblem}));
    EXPECT_EQ(prompts.ended, LoaderPrompts::DialogEnd::Ok);
    EXPECT_EQ(timers.armings, std::vector<Timing>(6, {1, 100}));
    EXPECT_EQ(view.Text(kStatus), "Not Connected... 1 device is found");
}

TEST_F(Download, NoSecondSelectionWhileOneIsOpenOrADownloadRuns) {
    // Open BIN pressed before the scope is ready: the poll finds the boot loader
    // while the selection is open and must not open another.
    Start(2, 2, 5000);
    const Bytes first = image;
    prompts.whileChoosing = [&] { RunTimers(); };
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.chooserOpenings, 1);
    EXPECT_EQ(link.ImageLength(), 6144);
    sequencer.OnConnect();
    RunTimers([&] { return sequencer.BlockIndex() == 1; });
    prompts.files = {MakeImage(100, 2)};
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.chooserOpenings, 1);
    RunTimers();
    image = first;
    ExpectFlashHoldsTheImage(8192);
}

TEST_F(Download, RefusedAndFailedFilesKeepTheEarlierImage) {
    sequencer.ResetWindow();
    const std::string path = MakeImage(3000), huge = folder.Path("huge.BIN"), gone = folder.Path("gone.BIN");
    const std::string fifo = folder.Path("fifo.BIN");
    WriteBytes(huge, {});
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    prompts.files = {path, huge, huge, folder.Path(""), fifo, gone};
    sequencer.OnOpenBin();
    EXPECT_EQ(view.Text(kFileSize), "3,000 Bytes");
    const auto shown = view.texts;
    const auto enabled = view.enabled_;
    const Bytes before(link.Image().Data(), link.Image().Data() + FirmwareImage::kBufferSize);
    for (const std::uintmax_t length : {8386560u, 9000000u}) {
        std::filesystem::resize_file(huge, length);
        sequencer.OnOpenBin();
    }
    // Neither a folder nor a FIFO is a file: refused by name, without waiting for a writer.
    sequencer.OnOpenBin();
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.messages,
              (Strings{texts::kFileTooLong, texts::kFileTooLong, folder.Path("") + texts::kFileNotRegular,
                       fifo + texts::kFileNotRegular}));
    EXPECT_NE(prompts.messages[3].find("is not a regular file"), std::string::npos);
    EXPECT_NE(prompts.messages[0].find("8,386,560 bytes"), std::string::npos);
    EXPECT_EQ(view.texts, shown);
    EXPECT_EQ(view.enabled_, enabled);
    EXPECT_EQ(view.maxima[kTotalBar], (Ints{2}));
    // A file that cannot be opened is shown with an empty size, and ends the selection.
    sequencer.OnOpenBin();
    EXPECT_EQ(prompts.messages.size(), 4u);
    EXPECT_EQ(view.Text(kFileName), gone);
    EXPECT_EQ(view.Text(kFileSize), "");
    EXPECT_EQ(view.maxima[kTotalBar], (Ints{2, 2}));
    EXPECT_EQ(link.ImageLength(), 4096);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), link.Image().Data()));
}
