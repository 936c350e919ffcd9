// Haldrin without a window: the firmware image, the transfer statistics, and the real
// ScopeLink, sequencer and driver library against the virtual scope's boot loader, the
// window's timers, clock, elements and dialogs stood in for by one recording object.
#include "DownloadActivity.h"
#include "DownloadSequencer.h"
#include "FirmwareImage.h"
#include "LoaderControls.h"
#include "LoaderPrompts.h"
#include "LoaderTexts.h"
#include "LoaderView.h"
#include "ScopeLink.h"
#include "TransferStatistics.h"
#include "VirtualScopeProcess.h"
#include "WindowTimers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace loader;
using namespace loader::controls;

namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using Ints = std::vector<int>;
using Running = std::vector<bool>;
using std::to_string;
using testsupport::VirtualScopeProcess;

// A folder of its own for one test, removed with it.
struct TempFolder {
    std::string dir = (std::filesystem::temp_directory_path() / "haldrin-test-XXXXXX").string();
    TempFolder() { EXPECT_NE(mkdtemp(dir.data()), nullptr); }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
};

// Bytes that differ from block to block and often are the frame bytes 0x02 and 0x03.
Bytes Pattern(std::size_t length, unsigned seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 29 + i / 2048) ^ (i >> 9));
    return bytes;
}
void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Boot-loader firmware with the given geometry and no link delays.
Strings BootLoader(int perSector, int sectors, const std::string& flash, Strings extra = {}) {
    Strings o = {"--firmware",          "bootloader",
                 "--blocks-per-sector", to_string(perSector),
                 "--sectors",           to_string(sectors),
                 "--flash-file",        flash,
                 "--throughput",        "0",
                 "--latency-ms",        "0",
                 "--erase-ms",          "0",
                 "--program-ms",        "0"};
    o.insert(o.end(), extra.begin(), extra.end());
    return o;
}

// A --busy virtual scope may publish its link a moment before it takes its lock.
bool WaitUntilDeviceIsBusy() {
    UsbPort port;
    for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        const int opened = port.Open();
        port.Close();
        if (opened == UsbPort::kOpenFailed)
            return true;
    }
    return false;
}

// Boot-loader commands the virtual scope received, in order: "hello" or "FE:3" (code:address).
Strings Commands(const VirtualScopeProcess& scope) {
    using testsupport::Field;
    Strings commands;
    for (const std::string& line : scope.LogLines())
        if (const std::string code = Field(line, "code"); Field(line, "ev") == "cmd" && !code.empty())
            commands.push_back(code == "0xFF" ? "hello" : code.substr(2) + ":" + Field(line, "addr"));
    return commands;
}

// Driver calls as text, e.g. "SetTimeouts 2000 1000"; afterRead may alter what a read gave.
Strings calls;
std::function<void(std::uint8_t*, DWORD*)> afterRead;
FT_STATUS Note(const std::string& call, FT_STATUS status) {
    return calls.push_back(call), status;
}
const usbdriver::DriverOperations kRecording = {
    [](int d, FT_HANDLE* h) { return Note("Open " + to_string(d), FT_Open(d, h)); },
    [](FT_HANDLE h) { return Note("Close", FT_Close(h)); },
    [](PVOID a, PVOID b, DWORD f) {
        return Note(b || f != FT_LIST_NUMBER_ONLY ? "ListDevices other" : "ListDevices number-only",
                    FT_ListDevices(a, b, f));
    },
    [](FT_HANDLE h, DWORD* n) { return Note("GetQueueStatus", FT_GetQueueStatus(h, n)); },
    [](FT_HANDLE h, LPVOID p, DWORD n, LPDWORD w) {
        return Note("Write " + to_string(n), FT_Write(h, p, n, w));
    },
    [](FT_HANDLE h, LPVOID p, DWORD n, LPDWORD r) {
        const FT_STATUS status = FT_Read(h, p, n, r);
        if (afterRead)
            afterRead(static_cast<std::uint8_t*>(p), r);
        return Note("Read " + to_string(n), status);
    },
    [](FT_HANDLE h) { return Note("ResetDevice", FT_ResetDevice(h)); },
    [](FT_HANDLE h, ULONG m) { return Note("Purge " + to_string(m), FT_Purge(h, m)); },
    [](FT_HANDLE h, ULONG r, ULONG w) {
        return Note("SetTimeouts " + to_string(r) + " " + to_string(w), FT_SetTimeouts(h, r, w));
    },
    [](FT_HANDLE h, ULONG i, ULONG o) {
        return Note("SetUSBParameters " + to_string(i) + " " + to_string(o), FT_SetUSBParameters(h, i, o));
    }};

// The loader window without a window: a fake clock and timer queue, every text, bar
// maximum and bar position set (in order, per control), the dialogs' answers, and what
// the desktop was told (true while the flash is written).
struct FakeWindow : appsupport::Clock, appsupport::WindowTimers, LoaderView, LoaderPrompts, DownloadActivity {
    std::uint32_t TickCount() override { return now; }
    void Sleep(int ms) override { now += static_cast<std::uint32_t>(ms); }
    void Start(int id, int periodMs, Kind) override {
        armings.push_back({id, periodMs});
        due[id] = now + static_cast<std::uint32_t>(periodMs);
    }
    void Stop(int id) override { due.erase(id); }
    void SetText(int control, const std::string& text) override { textLog[control].push_back(text); }
    void EnableButton(int control, bool on) override { enabled[control] = on; }
    void SetBarRange(int control, int, int maximum) override { maxima[control].push_back(maximum); }
    void SetBarPosition(int control, int position) override { positions[control].push_back(position); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override { return questions.push_back(text), answerYes; }
    FinishChoice RunFinishDialog() override { return ++finishDialogs, finishChoice; }
    // Runs whileChoosing once, then answers from files in order; cancelled once they run out.
    // Like the window's, it opens no second selection while one is open.
    std::optional<std::string> ChooseFile() override {
        if (choosing)
            return std::nullopt;
        ++chooserOpenings;
        choosing = true;
        if (auto during = std::exchange(whileChoosing, nullptr))
            during();
        choosing = false;
        std::optional<std::string> answer;
        if (!files.empty())
            answer = files.front(), files.pop_front();
        return answer;
    }
    void EndDialog(DialogEnd end) override { ended = end; }
    void DownloadRunning(bool on) override { running.push_back(on); }
    std::string Text(int control) { return textLog[control].empty() ? "<unset>" : textLog[control].back(); }

    std::uint32_t now = 1000;
    std::map<int, std::uint32_t> due;
    std::vector<std::pair<int, int>> armings; // id, period
    std::map<int, Strings> textLog;
    std::map<int, bool> enabled;
    std::map<int, Ints> maxima, positions;
    Strings messages, questions;
    bool answerYes = false, choosing = false;
    std::deque<std::optional<std::string>> files;
    std::function<void()> whileChoosing;
    int chooserOpenings = 0, finishDialogs = 0;
    FinishChoice finishChoice = FinishChoice::Finish;
    std::optional<DialogEnd> ended;
    Running running;
};

// Whole downloads into the virtual scope's boot loader on the fake timer queue and clock.
struct DownloadRig : FakeWindow {
    DownloadRig() { ScopeLink::s_openFailures = 0, calls.clear(); }
    // A scope of sectors x p blocks, an image file of the given length to be selected (none for 0),
    // and the window's start values.
    void Begin(int p, int sectors, std::size_t length, Strings extra = {}) {
        scope.emplace(BootLoader(p, sectors, flash, extra));
        if (length > 0)
            files = {MakeImage(length)};
        sequencer.ResetWindow();
    }
    std::string MakeImage(std::size_t length, unsigned seed = 7) {
        const std::string path = folder.Path("image" + to_string(seed) + ".BIN");
        WriteBytes(path, image = Pattern(length, seed));
        return path;
    }
    // The flash starts with the image, then the buffer's fill.
    void ExpectFlashHoldsTheImage(std::size_t flashBytes) const {
        Bytes expected(flashBytes, 0xFF), flashed = ReadBytes(flash);
        std::copy(image.begin(), image.end(), expected.begin());
        flashed.resize(std::min(flashed.size(), flashBytes));
        EXPECT_EQ(flashed, expected);
    }
    // Runs the earliest armed timer, left armed (the handler must stop it), until none is armed,
    // the window ended, or done holds. Running a timer advances the clock to its due time and
    // also sleeps the period, so that the scope sees the host's real pacing.
    void RunTimers(const std::function<bool()>& done = [] { return false; }) {
        for (int i = 0; i < 20000 && !ended && !done() && !due.empty(); ++i) {
            auto next = due.begin();
            for (auto it = due.begin(); it != due.end(); ++it)
                if (static_cast<std::int32_t>(it->second - next->second) < 0)
                    next = it;
            if (const auto wait = static_cast<std::int32_t>(next->second - now); wait > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(wait)), now = next->second;
            sequencer.OnLoaderTimer(next->first);
        }
    }
    long Retries() const {
        return std::count_if(armings.begin(), armings.end(),
                             [](auto t) { return t.first != 1 && t.second == 100; });
    }

    TempFolder folder;
    std::string flash = folder.Path("flash.bin");
    Bytes image;
    std::optional<VirtualScopeProcess> scope;
    ScopeLink link{kRecording};
    DownloadSequencer sequencer{link, *this, *this, *this, *this, this};
};
struct Download : testing::Test, DownloadRig {};

// The last case is the longest file accepted: the sequencer sends blocks 0 to T, and block T
// is the buffer's last.
TEST(FirmwareImage, WorkedValuesOfLengthBlocksAndSizeText) {
    const std::tuple<long long, int, const char*> cases[] = {{0, 2048, "0,000 Bytes"},
                                                             {512, 2048, "0,512 Bytes"},
                                                             {2047, 2048, "2,047 Bytes"},
                                                             {2048, 4096, "2,048 Bytes"},
                                                             {999999, 1001472, "999,999 Bytes"},
                                                             {1234567, 1234944, "1,234,567 Bytes"},
                                                             {8386559, 8386560, "8,386,559 Bytes"}};
    TempFolder folder;
    FirmwareImage image;
    for (const auto& [length, imageLength, sizeText] : cases) {
        SCOPED_TRACE(length);
        std::ofstream(folder.Path("image.bin"), std::ios::trunc).close();
        std::filesystem::resize_file(folder.Path("image.bin"), static_cast<std::uintmax_t>(length));
        const ImageLoad load = image.LoadImage(folder.Path("image.bin"));
        EXPECT_EQ(load.outcome, ImageLoad::Outcome::Loaded);
        EXPECT_EQ(load.sizeText, sizeText);
        EXPECT_EQ(image.Length(), imageLength);
        EXPECT_NE(image.Block(imageLength / 2048), nullptr);
    }
    EXPECT_EQ(image.Block(4096), nullptr);
    EXPECT_EQ(image.Block(-1), nullptr);
}

TEST(FirmwareImage, BufferStartsDefinedAndPaddingKeepsWhatItHeld) {
    TempFolder folder;
    FirmwareImage image;
    EXPECT_EQ(image.Length(), 0);
    EXPECT_EQ(image.Data()[0], 0);
    for (int i = 1; i < FirmwareImage::kBufferSize; i += 4093)
        ASSERT_EQ(image.Data()[i], 0xFF) << i;
    EXPECT_EQ(image.Data()[FirmwareImage::kBufferSize - 1], 0xFF);
    const Bytes longer = Pattern(10000, 2), shorter = Pattern(3000, 3);
    WriteBytes(folder.Path("long.bin"), longer);
    WriteBytes(folder.Path("short.bin"), shorter);
    ASSERT_EQ(image.LoadImage(folder.Path("long.bin")).outcome, ImageLoad::Outcome::Loaded);
    ASSERT_EQ(image.LoadImage(folder.Path("short.bin")).outcome, ImageLoad::Outcome::Loaded);
    EXPECT_EQ(image.Length(), 4096);
    EXPECT_EQ(std::memcmp(image.Data(), shorter.data(), 3000), 0);
    EXPECT_EQ(std::memcmp(image.Data() + 3000, longer.data() + 3000, 1096), 0);
    // After ClearImage an empty file gives one block: first byte 0, the rest old.
    image.ClearImage();
    EXPECT_EQ(image.Length(), 0);
    WriteBytes(folder.Path("empty.bin"), {});
    ASSERT_EQ(image.LoadImage(folder.Path("empty.bin")).sizeText, "0,000 Bytes");
    EXPECT_EQ(image.Length(), 2048);
    EXPECT_EQ(image.Data()[0], 0);
    EXPECT_EQ(std::memcmp(image.Data() + 1, shorter.data() + 1, 2047), 0);
}

// A file whose size the file system reports as 0 is loaded by what it holds; devices are
// refused without being opened.
TEST(FirmwareImage, FileWithoutAReportedSizeLoadsByItsContent) {
    const std::string path = "/proc/self/mountinfo";
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    ASSERT_EQ(info.st_size, 0);
    FirmwareImage image;
    const ImageLoad load = image.LoadImage(path);
    ASSERT_EQ(load.outcome, ImageLoad::Outcome::Loaded);
    EXPECT_GT(load.fileLength, 0);
    EXPECT_EQ(load.sizeText, FirmwareImage::SizeText(load.fileLength));
    EXPECT_EQ(image.Length(), (load.fileLength / 2048 + 1) * 2048);
    // The first line names the root mount; the process's own mounts do not change meanwhile.
    const Bytes again = ReadBytes(path);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + 16, image.Data()));
    EXPECT_EQ(image.LoadImage("/dev/null").outcome, ImageLoad::Outcome::NotRegular);
    EXPECT_EQ(image.Length(), (load.fileLength / 2048 + 1) * 2048);
}

// Elapsed ms, blocks sent and image blocks: the elapsed, rate and estimated texts. Nothing
// acknowledged yet (also no time elapsed): rate 0 and the 6039 s estimate; the rate truncated
// toward zero (2048 * 1000 / 3 = 682666.67).
TEST(TransferStatistics, FormatsElapsedRateAndEstimate) {
    const std::tuple<std::int32_t, std::int32_t, std::int32_t, std::string> cases[] = {
        {0, 0, 10, "00 : 00|0,000 CPS|100 : 39"},       {61500, 0, 1, "01 : 01|0,000 CPS|100 : 39"},
        {6000000, 0, 1, "100 : 00|0,000 CPS|100 : 39"}, {999, 0, 0, "00 : 00|0,000 CPS|100 : 39"},
        {1000, 32, 64, "00 : 01|65,536 CPS|00 : 02"},   {3, 1, 513, "00 : 00|682,666 CPS|00 : 01"},
        {1000, 1, 4095, "00 : 01|2,048 CPS|68 : 15"},   {1000000, 1, 1, "16 : 40|0,002 CPS|17 : 04"}};
    for (const auto& [elapsedMs, blocksSent, imageBlocks, expected] : cases) {
        const TransferStatistics s = TransferStatistics::Compute(elapsedMs, blocksSent, imageBlocks);
        EXPECT_EQ(s.elapsedText + "|" + s.rateText + "|" + s.estimatedText, expected)
            << elapsedMs << " ms, " << blocksSent << " blocks";
    }
}

// Connect lists, opens, configures the line and says hello, in that order; destroying the
// link closes its handle, so the device is free for the next program. Without an open
// handle no command reaches the driver, and each gives 0.
TEST(ScopeConnection, ConnectConfiguresTheLinkAndSaysHelloInOrder) {
    TempFolder folder;
    VirtualScopeProcess scope(BootLoader(2, 2, folder.Path("flash.bin")));
    calls.clear();
    {
        ScopeLink link(kRecording);
        EXPECT_EQ(link.Connect(), ScopeLink::kReady);
        EXPECT_EQ(calls, (Strings{"ListDevices number-only", "Open 0", "SetUSBParameters 4096 0",
                                  "ResetDevice", "SetTimeouts 2000 1000", "Purge 1", "Write 7", "Read 6"}));
        calls.clear();
    }
    EXPECT_EQ(calls, (Strings{"Close"}));
    ScopeLink again(kRecording);
    ASSERT_EQ(again.Connect(), ScopeLink::kReady);
    // Showing the device count ends the link: no command afterwards reaches the driver.
    EXPECT_EQ(again.DeviceCountText(), "Not Connected... 1 device is found");
    EXPECT_FALSE(again.IsOpen());
    calls.clear();
    EXPECT_EQ(again.EraseSector(0) + again.BlankCheck(0) + again.SendData(0) + again.EndDownload(), 0);
    EXPECT_EQ(again.QueryGeometry(), 0);
    again.Close();
    EXPECT_EQ(calls, Strings{});
    EXPECT_EQ(Commands(scope), (Strings{"hello", "hello"}));
}

TEST(ScopeConnection, OpenFailuresGiveUpOnTheSixthInARowUnlessNoDeviceIsFoundBetween) {
    TempFolder folder;
    ScopeLink::s_openFailures = 0;
    ScopeLink link(kRecording);
    // Connect results while device 0 is listed but held by another program.
    const auto connectWhileBusy = [&](int times) {
        VirtualScopeProcess busy(BootLoader(2, 2, folder.Path("flash.bin"), {"--busy"}));
        EXPECT_TRUE(WaitUntilDeviceIsBusy());
        Ints results;
        while (times-- > 0)
            results.push_back(link.Connect());
        return results;
    };
    EXPECT_EQ(connectWhileBusy(7), (Ints{2, 2, 2, 2, 2, 3, 3}));
    EXPECT_FALSE(link.IsOpen());
    ScopeLink::s_openFailures = 0;
    EXPECT_EQ(connectWhileBusy(5), Ints(5, 2));
    calls.clear();
    EXPECT_EQ(link.Connect(), 2); // no device, so no open either
    EXPECT_EQ(calls, (Strings{"ListDevices number-only"}));
    EXPECT_EQ(link.DeviceCountText(), "Not Connected... 0 device is found");
    EXPECT_EQ(connectWhileBusy(5), Ints(5, 2));
    // A hello that is not answered still resets the count and leaves the handle open.
    VirtualScopeProcess screen({"--firmware", "screen", "--throughput", "0", "--latency-ms", "0"});
    ScopeLink::s_openFailures = 5;
    EXPECT_EQ(link.Connect(), 2);
    EXPECT_EQ(ScopeLink::s_openFailures, 0);
    EXPECT_TRUE(link.IsOpen());
}

TEST(ScopeLinkCommands, GeometryQueryComparesTheFlashWithThePaddedImage) {
    TempFolder folder;
    // 1 hello, 2-3 geometry, 4 geometry with status 'X', 5 geometry, 6-7 erase, 7 with 3 bytes only.
    VirtualScopeProcess scope(
        BootLoader(16, 32, folder.Path("flash.bin"), {"--fault", "status@4", "--fault", "short@7"}));
    ScopeLink link(kRecording);
    ASSERT_EQ(link.Connect(), ScopeLink::kReady);
    // 16 x 32 blocks = 1,048,576 bytes, the padded length of the first file but not of the second.
    for (const auto& [fileLength, imageLength, fits] :
         {std::tuple{1046528, 1048576, 1}, {1048576, 1050624, 0}}) {
        WriteBytes(folder.Path("image.bin"), Pattern(static_cast<std::size_t>(fileLength), 1));
        ASSERT_EQ(link.LoadImage(folder.Path("image.bin")).outcome, ImageLoad::Outcome::Loaded);
        ASSERT_EQ(link.ImageLength(), imageLength);
        EXPECT_EQ(link.QueryGeometry(), fits);
        EXPECT_EQ(std::pair(link.BlocksPerSector(), link.SectorCount()), std::pair(16, 32));
    }
    // A reply other than 'A' leaves the geometry as it was.
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(link.Reply()[2], 'X');
    EXPECT_EQ(link.BlocksPerSector(), 16);
    // An acknowledged geometry of 0 blocks per sector is stored and holds no image.
    afterRead = [](std::uint8_t* reply, DWORD*) { reply[3] = 0; };
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(std::pair(link.BlocksPerSector(), link.SectorCount()), std::pair(0, 32));
    // Five bytes of an 'A' reply, or three, are no answer.
    afterRead = [](std::uint8_t*, DWORD* received) { *received = 5; };
    EXPECT_EQ(link.EraseSector(0), 0);
    afterRead = nullptr;
    EXPECT_EQ(link.EraseSector(0), 0);
    // A refused block index never reaches the wire.
    EXPECT_EQ(link.SendData(4096) + link.SendData(-1), 0);
    EXPECT_EQ(Commands(scope), (Strings{"hello", "FA:0", "FA:0", "FA:0", "FA:0", "FE:0", "FE:0"}));
}

// T = 3 into sectors of P = 2 blocks, Continue, then T = 4: one more sector for the last block.
TEST_F(Download, ThreeBlocksThenAfterContinueFourBlocksIntoTwoBlockSectors) {
    Begin(2, 3, 5000);
    finishChoice = FinishChoice::Continue;
    RunTimers([&] { return finishDialogs == 1; });
    Strings commands = {"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1",
                        "FE:1",  "FC:1", "FD:2", "FD:3", "FB:0"};
    EXPECT_EQ(Commands(*scope), commands);
    ExpectFlashHoldsTheImage(8192);
    EXPECT_EQ(maxima[kSectorBar], (Ints{20, 19}));
    EXPECT_EQ(positions[kSectorBar], (Ints{0, 0, 10, 18, 18, 19, 0, 10, 18, 18, 19, 0}));
    EXPECT_EQ(maxima[kTotalBar], (Ints{3}));
    EXPECT_EQ(positions[kTotalBar], (Ints{0, 0, 1, 2, 3, 0}));
    // First erase: nothing acknowledged yet. Last block: 4 blocks in 9 fake ms.
    EXPECT_EQ(textLog[kEstimatedTime].at(1), "100 : 39");
    EXPECT_EQ(textLog[kTransferRate].end()[-2], "910,222 CPS");
    // Continue: back to the texts of the first reset (the window test checks them), polling again.
    for (int id : {kFileName, kFileSize, kErrorCount, kEstimatedTime, kElapsedTime, kTransferRate, kStatus})
        EXPECT_EQ(Text(id), textLog[id].front()) << id;
    EXPECT_TRUE(enabled[kOpenBin] && enabled[kConnect]);
    EXPECT_EQ(link.ImageLength() + sequencer.BlockIndex() + sequencer.ErrorCount() + sequencer.SectorIndex(),
              0);
    EXPECT_EQ(armings.back(), std::pair(1, 100));
    EXPECT_FALSE(ended.has_value());
    EXPECT_EQ(running, (Running{true, false})); // from the start of the run to its end

    files = {MakeImage(7000, 8)};
    finishChoice = FinishChoice::Finish;
    RunTimers();
    commands.insert(commands.end(), {"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1", "FE:1", "FC:1", "FD:2",
                                     "FD:3", "FE:2", "FC:2", "FD:4", "FB:0"});
    EXPECT_EQ(Commands(*scope), commands);
    ExpectFlashHoldsTheImage(12288);
    EXPECT_EQ(maxima[kSectorBar], (Ints{20, 19, 20, 20, 18}));
    EXPECT_EQ(positions[kTotalBar].back(), 4);
    EXPECT_EQ(Text(kStatus), "  ");
    EXPECT_EQ(finishDialogs, 2);
    EXPECT_EQ(running, (Running{true, false, true, false}));
    EXPECT_EQ(ended, DialogEnd::Cancel);
    EXPECT_TRUE(messages.empty());
    // Every command, the hello included, empties the receive queue first.
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_TRUE(calls[i].rfind("Write", 0) != 0 || calls[i - 1] == "Purge 1") << i;
    // Once the last block is acknowledged, Exit ends the window without asking.
    ended.reset();
    sequencer.OnExit();
    EXPECT_EQ(ended, DialogEnd::Cancel);
    EXPECT_TRUE(questions.empty());
}

// One budget of ten retries for all steps (geometry, erase, blank check, data); the
// eleventh failure halts with the step's message, as does an image larger than the flash.
TEST(DownloadErrorBudget, TenFailuresAreRetriedTheEleventhHalts) {
    struct Case {
        std::size_t imageLength;
        const char* faults; // 1 hello; 2 geometry, 4 erase 0, 6 blank 0, 10-12 erase 1, 14-18 blank 1
        const char* message;
        const char* errorText;
        std::size_t commands;
    };
    for (const Case& c :
         {Case{5000, "status@2,4,6,10,11,12,14,15,16,17", nullptr, " 10", 21},
          Case{5000, "status@2,4,6,10,11,12,14,15,16,17,18", texts::kServiceProblem, " 11", 18},
          Case{9000, nullptr, texts::kFileMismatch, "  0", 12}}) {
        SCOPED_TRACE(c.errorText);
        DownloadRig run;
        run.Begin(2, 2, c.imageLength, c.faults ? Strings{"--fault", c.faults} : Strings{});
        run.RunTimers();
        EXPECT_EQ(run.messages, c.message ? Strings{c.message} : Strings{});
        EXPECT_EQ(run.Text(kErrorCount), c.errorText);
        EXPECT_EQ(Commands(*run.scope).size(), c.commands);
        EXPECT_EQ(run.Retries(), 10);
        EXPECT_EQ(run.finishDialogs, c.message ? 0 : 1);
        EXPECT_EQ(run.running, (Running{true, false})) << "a halt ends the run too";
        // A halt leaves the buttons off and no flash written (no end command was sent).
        EXPECT_FALSE(run.enabled[kConnect] || run.enabled[kOpenBin]);
        EXPECT_EQ(std::filesystem::exists(run.flash), !c.message);
        if (c.message) {
            EXPECT_TRUE(run.due.empty());
            continue;
        }
        run.ExpectFlashHoldsTheImage(8192);
        // A failed erase repeats the whole step: the sector bar goes back to 0 each time.
        EXPECT_EQ(Ints(run.positions[kSectorBar].begin() + 7, run.positions[kSectorBar].end()),
                  (Ints{0, 0, 0, 0, 10, 18, 18, 19}));
    }
}

// Exit answered No leaves the run going; Yes ends the window and the run.
TEST_F(Download, ExitDuringARunEndsTheRunWhenConfirmed) {
    Begin(2, 2, 5000);
    RunTimers([&] { return sequencer.BlockIndex() == 1; });
    sequencer.OnExit();
    EXPECT_EQ(running, (Running{true}));
    answerYes = true;
    sequencer.OnExit();
    EXPECT_EQ(running, (Running{true, false}));
    EXPECT_EQ(ended, DialogEnd::Cancel);
}

TEST_F(Download, HelloBeforeAnyImageOpensTheSelectionAndCancelWaitsForConnect) {
    Begin(2, 2, 0);
    RunTimers();
    EXPECT_EQ(chooserOpenings, 1);
    EXPECT_EQ(Text(kStatus), texts::kReady);
    EXPECT_TRUE(enabled[kConnect]);
    EXPECT_TRUE(due.empty());
    EXPECT_EQ(Commands(*scope), (Strings{"hello"}));
    files = {MakeImage(3000)};
    sequencer.OnConnect();
    EXPECT_EQ(chooserOpenings, 2);
    EXPECT_FALSE(enabled[kConnect]);
    RunTimers();
    EXPECT_EQ(finishDialogs, 1);
    ExpectFlashHoldsTheImage(8192);
}

TEST_F(Download, SixFailedOpensEndTheWindowWithTheEnvironmentMessage) {
    Begin(2, 2, 0, {"--busy"});
    ASSERT_TRUE(WaitUntilDeviceIsBusy());
    RunTimers();
    EXPECT_EQ(messages, (Strings{texts::kEnvironmentProblem}));
    EXPECT_EQ(ended, DialogEnd::Ok);
    EXPECT_EQ(armings, (std::vector<std::pair<int, int>>(6, {1, 100})));
    EXPECT_EQ(Text(kStatus), "Not Connected... 1 device is found");
}

// Open BIN pressed before the scope is ready: the poll finds the boot loader while the
// selection is open and must not open another; nor does Open BIN during the download.
TEST_F(Download, NoSecondSelectionWhileOneIsOpenOrADownloadRuns) {
    Begin(2, 2, 5000);
    const Bytes first = image;
    whileChoosing = [&] { RunTimers(); };
    sequencer.OnOpenBin();
    EXPECT_EQ(chooserOpenings, 1);
    EXPECT_EQ(link.ImageLength(), 6144);
    sequencer.OnConnect();
    RunTimers([&] { return sequencer.BlockIndex() == 1; });
    files = {MakeImage(100, 2)};
    sequencer.OnOpenBin();
    EXPECT_EQ(chooserOpenings, 1);
    RunTimers();
    image = first;
    ExpectFlashHoldsTheImage(8192);
}

TEST_F(Download, RefusedAndFailedFilesKeepTheEarlierImage) {
    sequencer.ResetWindow();
    const std::string path = MakeImage(3000), huge = folder.Path("huge.BIN"), fifo = folder.Path("fifo.BIN");
    WriteBytes(huge, {});
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    files = {path, huge, huge, folder.Path(""), fifo, folder.Path("gone.BIN")};
    sequencer.OnOpenBin();
    EXPECT_EQ(Text(kFileSize), "3,000 Bytes");
    const auto shown = textLog;
    const auto buttons = enabled;
    const Bytes before(link.Image().Data(), link.Image().Data() + FirmwareImage::kBufferSize);
    for (const std::uintmax_t length : {8386560u, 9000000u}) {
        std::filesystem::resize_file(huge, length);
        sequencer.OnOpenBin();
    }
    // Neither a folder nor a FIFO is a file: refused by name, without waiting for a writer.
    sequencer.OnOpenBin();
    sequencer.OnOpenBin();
    EXPECT_EQ(messages, (Strings{texts::kFileTooLong, texts::kFileTooLong,
                                 folder.Path("") + texts::kFileNotRegular, fifo + texts::kFileNotRegular}));
    EXPECT_NE(messages[3].find("is not a regular file"), std::string::npos);
    EXPECT_NE(messages[0].find("8,386,560 bytes"), std::string::npos);
    EXPECT_EQ(textLog, shown);
    EXPECT_EQ(enabled, buttons);
    EXPECT_EQ(maxima[kTotalBar], (Ints{2}));
    // A file that cannot be opened is shown with an empty size, and ends the selection.
    sequencer.OnOpenBin();
    EXPECT_EQ(messages.size(), 4u);
    EXPECT_EQ(Text(kFileName), folder.Path("gone.BIN"));
    EXPECT_EQ(Text(kFileSize), "");
    EXPECT_EQ(maxima[kTotalBar], (Ints{2, 2}));
    EXPECT_EQ(link.ImageLength(), 4096);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), link.Image().Data()));
}

} // namespace
