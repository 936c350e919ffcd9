// Haldrin without a window: the firmware image, the statistics, and the real link, sequencer and driver
// library against the virtual scope's boot loader, the window stood in for by one recording object.
#include "BootPacket.h"
#include "DownloadSequencer.h"
#include "LoaderControls.h"
#include "LoaderTexts.h"
#include "TransferStatistics.h"
#include "VirtualScopeProcess.h"

#include <algorithm>
#include <deque>
#include <map>

using namespace loader;
using namespace loader::controls;

namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using Ints = std::vector<int>;
using std::to_string;

// A new folder in the test process's runtime folder, which goes with the process.
std::string NewFolder() {
    std::string dir = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/XXXXXX";
    return mkdtemp(dir.data());
}

// Bytes that differ from block to block and often are the frame bytes 0x02 and 0x03.
Bytes Pattern(std::size_t length, unsigned seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 29 + i / 2048) ^ (i >> 9));
    return bytes;
}
void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary) << std::string(bytes.begin(), bytes.end());
}
Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Boot-loader commands the virtual scope received, in order: "hello" or "FE:3" (code:address).
Strings Commands(const testsupport::VirtualScopeProcess& scope) {
    using testsupport::Field;
    Strings commands;
    for (const std::string& line : scope.LogLines())
        if (const std::string code = Field(line, "code"); Field(line, "ev") == "cmd" && !code.empty())
            commands.push_back(code == "0xFF" ? "hello" : code.substr(2) + ":" + Field(line, "addr"));
    return commands;
}

// Driver calls with their numbers, e.g. "SetTimeouts 2000 1000"; afterRead may alter what a read gave.
Strings calls;
std::function<void(std::uint8_t*, DWORD*)> afterRead;
FT_STATUS Note(std::string call, FT_STATUS status, auto... numbers) {
    ((call += " " + to_string(numbers)), ...);
    return calls.push_back(call), status;
}
const usbdriver::DriverOperations kRecording = {
    [](int d, FT_HANDLE* h) { return Note("Open", FT_Open(d, h), d); },
    [](FT_HANDLE h) { return Note("Close", FT_Close(h)); },
    [](PVOID a, PVOID b, DWORD f) {
        return Note(b || f != FT_LIST_NUMBER_ONLY ? "ListDevices other" : "ListDevices",
                    FT_ListDevices(a, b, f));
    },
    [](FT_HANDLE h, DWORD* n) { return Note("GetQueueStatus", FT_GetQueueStatus(h, n)); },
    [](FT_HANDLE h, LPVOID p, DWORD n, LPDWORD w) { return Note("Write", FT_Write(h, p, n, w), n); },
    [](FT_HANDLE h, LPVOID p, DWORD n, LPDWORD r) {
        const FT_STATUS status = FT_Read(h, p, n, r);
        return afterRead ? afterRead(static_cast<std::uint8_t*>(p), r) : void(), Note("Read", status, n);
    },
    [](FT_HANDLE h) { return Note("ResetDevice", FT_ResetDevice(h)); },
    [](FT_HANDLE h, ULONG m) { return Note("Purge", FT_Purge(h, m), m); },
    [](FT_HANDLE h, ULONG r, ULONG w) { return Note("SetTimeouts", FT_SetTimeouts(h, r, w), r, w); },
    [](auto h, auto i, auto o) { return Note("SetUSBParameters", FT_SetUSBParameters(h, i, o), i, o); }};

// The loader window without a window: a fake clock and timer queue, every text, bar maximum and position
// set (in order, per control), the dialogs' answers, and what the desktop was told of the run.
struct Rig : appsupport::Clock, appsupport::WindowTimers, LoaderView, LoaderPrompts, DownloadActivity {
    Rig() { ScopeLink::s_openFailures = 0, calls.clear(); }
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
    bool AskYesNo(const std::string&) override { return ++questions, answerYes; }
    FinishChoice RunFinishDialog() override { return ++finishDialogs, finishChoice; }
    // Runs whileChoosing, then answers from files (cancelled when none are left); none while one is open.
    std::optional<std::string> ChooseFile() override {
        if (++chooserCalls, std::exchange(choosing, true))
            return std::nullopt;
        if (auto during = std::exchange(whileChoosing, nullptr))
            during();
        choosing = false;
        const auto answer = files.empty() ? std::nullopt : files.front();
        return files.empty() ? answer : (files.pop_front(), answer);
    }
    void EndDialog(DialogEnd end) override { ended = end; }
    void DownloadRunning(bool on) override { running.push_back(on); }
    std::string Text(int control) { return textLog[control].empty() ? "<unset>" : textLog[control].back(); }

    // A scope of sectors x p blocks without delays, an image of length to select (0: none), the start values.
    void Begin(int p, int sectors, std::size_t length, Strings options = {}) {
        options.insert(options.end(), {"--firmware", "bootloader", "--blocks-per-sector", to_string(p),
                                       "--sectors", to_string(sectors), "--flash-file", flash, "--throughput",
                                       "0", "--latency-ms", "0", "--erase-ms", "0", "--program-ms", "0"});
        scope.emplace(options);
        if (length > 0)
            files = {MakeImage(length)};
        sequencer.ResetWindow();
    }
    std::string MakeImage(std::size_t length, unsigned seed = 7) {
        const std::string path = folder + "/image" + to_string(seed) + ".BIN";
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
    // Runs the earliest armed timer (the handler must stop it) until none is, the window ended or done holds,
    // moving the clock to its due time and sleeping the wait, so that the scope sees the host's real pacing.
    void RunTimers(const std::function<bool()>& done = [] { return false; }) {
        for (int i = 0; i < 20000 && !ended && !done() && !due.empty(); ++i) {
            const auto next = std::ranges::min_element(
                due, [](auto a, auto b) { return static_cast<std::int32_t>(a.second - b.second) < 0; });
            if (const auto wait = static_cast<std::int32_t>(next->second - now); wait > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(wait)), now = next->second;
            sequencer.OnLoaderTimer(next->first);
        }
    }

    std::uint32_t now = 1000;
    std::map<int, std::uint32_t> due;
    std::vector<std::pair<int, int>> armings; // id, period
    std::map<int, Strings> textLog;
    std::map<int, bool> enabled;
    std::map<int, Ints> maxima, positions;
    Strings messages;
    bool answerYes = false, choosing = false;
    std::deque<std::optional<std::string>> files;
    std::function<void()> whileChoosing;
    int questions = 0, chooserCalls = 0, finishDialogs = 0;
    FinishChoice finishChoice = FinishChoice::Finish;
    std::optional<DialogEnd> ended;
    std::vector<bool> running;
    std::string folder = NewFolder(), flash = folder + "/flash.bin";
    Bytes image;
    std::optional<testsupport::VirtualScopeProcess> scope;
    ScopeLink link{kRecording};
    DownloadSequencer sequencer{link, *this, *this, *this, *this, this};
};
struct Loader : testing::Test, Rig {};

// Padded lengths and size texts up to the longest file; fill, "no image" mark; files reported as empty.
TEST(FirmwareImage, LengthsSizeTextsPaddingAndFilesWithoutASize) {
    const std::string file = NewFolder() + "/image.bin";
    FirmwareImage image;
    EXPECT_EQ(image.Data()[0], 0);
    const std::tuple<long long, int, const char*> cases[] = {{0, 2048, "0,000 Bytes"},
                                                             {512, 2048, "0,512 Bytes"},
                                                             {2047, 2048, "2,047 Bytes"},
                                                             {2048, 4096, "2,048 Bytes"},
                                                             {999999, 1001472, "999,999 Bytes"},
                                                             {1234567, 1234944, "1,234,567 Bytes"},
                                                             {8386559, 8386560, "8,386,559 Bytes"}};
    for (const auto& [length, imageLength, sizeText] : cases) {
        WriteBytes(file, {});
        std::filesystem::resize_file(file, static_cast<std::uintmax_t>(length));
        EXPECT_EQ(
            (std::tuple{image.LoadImage(file).sizeText, image.Length(), image.Block(imageLength / 2048)}),
            (std::tuple{sizeText, imageLength, image.Data() + imageLength}))
            << length;
    }
    const auto load = [&](const Bytes& bytes) { return WriteBytes(file, bytes), image.LoadImage(file); };
    const Bytes longer = Pattern(10000, 2), shorter = Pattern(3000, 3);
    load(longer), load(shorter);
    EXPECT_EQ(image.Length(), 4096);
    EXPECT_TRUE(std::equal(longer.begin() + 3000, longer.begin() + 4096, image.Data() + 3000));
    image.ClearImage(), load({});
    EXPECT_EQ(image.Data()[0], 0);
    EXPECT_TRUE(std::equal(shorter.begin() + 1, shorter.begin() + 2048, image.Data() + 1));
    const std::string path = "/proc/self/mountinfo";
    ASSERT_EQ(std::filesystem::file_size(path), 0u);
    const ImageLoad loaded = image.LoadImage(path);
    EXPECT_EQ(loaded.sizeText, FirmwareImage::SizeText(loaded.fileLength));
    EXPECT_EQ(image.Length(), (loaded.fileLength / 2048 + 1) * 2048);
    // The first line names the root mount; the process's own mounts do not change meanwhile.
    EXPECT_TRUE(std::equal(image.Data(), image.Data() + 16, ReadBytes(path).begin()));
}

// Elapsed, rate (truncated) and estimate texts; no rate yet gives the 6039 s estimate.
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

// Connect's calls in order; the geometry against the padded image; bad replies; the device freed by
// destroying the link or by showing the device count, after which no command reaches the driver.
TEST_F(Loader, ConnectConfiguresTheLinePaddedImageAgainstTheGeometryAndBadReplies) {
    // 1-2 hello, 3-4 geometry, 5 geometry with status 'X', 6 geometry, 7-8 erase, 8 with 3 bytes only.
    Begin(16, 32, 0, {"--fault", "status@5", "--fault", "short@8"});
    calls.clear();
    EXPECT_EQ(ScopeLink(kRecording).Connect(), ScopeLink::kReady);
    EXPECT_EQ(calls, (Strings{"ListDevices", "Open 0", "SetUSBParameters 4096 0", "ResetDevice",
                              "SetTimeouts 2000 1000", "Purge 1", "Write 7", "Read 6", "Close"}));
    ASSERT_EQ(link.Connect(), ScopeLink::kReady);
    const auto geometry = [&] {
        return std::tuple{link.QueryGeometry(), link.BlocksPerSector(), link.SectorCount()};
    };
    // 16 x 32 blocks = 1,048,576 bytes, the padded length of the first file but not of the second.
    for (const auto& [fileLength, fits] : {std::pair{1046528, 1}, {1048576, 0}}) {
        WriteBytes(folder + "/image.bin", Bytes(static_cast<std::size_t>(fileLength)));
        link.LoadImage(folder + "/image.bin");
        EXPECT_EQ(geometry(), std::tuple(fits, 16, 32));
    }
    // A reply other than 'A' leaves the geometry as it was.
    EXPECT_EQ(geometry(), std::tuple(0, 16, 32));
    EXPECT_EQ(link.Reply()[2], 'X');
    // An acknowledged geometry of 0 blocks per sector is stored and holds no image.
    afterRead = [](std::uint8_t* reply, DWORD*) { reply[3] = 0; };
    EXPECT_EQ(geometry(), std::tuple(0, 0, 32));
    // Five bytes of an 'A' reply, or three, are no answer.
    afterRead = [](std::uint8_t*, DWORD* received) { *received = 5; };
    EXPECT_EQ(link.EraseSector(0), 0);
    afterRead = nullptr;
    EXPECT_EQ(link.EraseSector(0), 0);
    // A refused block index never reaches the wire.
    EXPECT_EQ(link.SendData(4096) + link.SendData(-1), 0);
    EXPECT_EQ(Commands(*scope), (Strings{"hello", "hello", "FA:0", "FA:0", "FA:0", "FA:0", "FE:0", "FE:0"}));
    EXPECT_EQ(link.DeviceCountText(), "Not Connected... 1 device is found");
    calls.clear();
    EXPECT_EQ(link.EraseSector(0) + link.BlankCheck(0) + link.SendData(0) + link.EndDownload(), 0);
    EXPECT_EQ(link.QueryGeometry(), 0);
    EXPECT_EQ(calls, Strings{});
}

// The sixth failed open in a row ends the window; no device, or an unanswered hello, resets the count.
TEST_F(Loader, SixFailedOpensInARowEndTheWindowUnlessNoDeviceIsFoundBetween) {
    Begin(2, 2, 0, {"--busy"});
    RunTimers();
    EXPECT_EQ(
        std::tuple(messages, ended, Text(kStatus)),
        std::tuple(Strings{texts::kEnvironmentProblem}, DialogEnd::Ok, "Not Connected... 1 device is found"));
    EXPECT_EQ(armings, (std::vector<std::pair<int, int>>(6, {1, 100})));
    scope.reset(), calls.clear();
    // No device, so no open either.
    EXPECT_EQ((std::tuple{link.Connect(), Strings(calls), link.DeviceCountText()}),
              std::tuple(ScopeLink::kNotYet, Strings{"ListDevices"}, "Not Connected... 0 device is found"));
    Begin(2, 2, 0, {"--busy"});
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(link.Connect(), ScopeLink::kNotYet) << i;
    scope.emplace(Strings{"--firmware", "screen", "--throughput", "0", "--latency-ms", "0"});
    EXPECT_EQ((std::tuple{link.Connect(), ScopeLink::s_openFailures, link.IsOpen()}),
              std::tuple(ScopeLink::kNotYet, 0, true));
}

// T = 3 into sectors of P = 2 blocks, Continue, then T = 4: one more sector for the last block.
TEST_F(Loader, ThreeBlocksThenAfterContinueFourBlocksIntoTwoBlockSectors) {
    Begin(2, 3, 5000);
    finishChoice = FinishChoice::Continue;
    RunTimers([&] { return finishDialogs == 1; });
    Strings commands = {"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1",
                        "FE:1",  "FC:1", "FD:2", "FD:3", "FB:0"};
    EXPECT_EQ(Commands(*scope), commands);
    ExpectFlashHoldsTheImage(8192);
    EXPECT_EQ(positions, (std::map<int, Ints>{{kSectorBar, {0, 0, 10, 18, 18, 19, 0, 10, 18, 18, 19, 0}},
                                              {kTotalBar, {0, 0, 1, 2, 3, 0}}}));
    // First erase: nothing acknowledged yet. Last block: 4 blocks in 9 fake ms.
    EXPECT_EQ(std::tuple(textLog[kEstimatedTime].at(1), textLog[kTransferRate].end()[-2]),
              std::tuple("100 : 39", "910,222 CPS"));
    // Continue: back to the texts and buttons of the first reset (the window test checks them).
    for (int id : {kFileName, kFileSize, kErrorCount, kEstimatedTime, kElapsedTime, kTransferRate, kStatus})
        EXPECT_EQ(Text(id), textLog[id].front()) << id;
    EXPECT_TRUE(enabled[kOpenBin] && enabled[kConnect]);

    files = {MakeImage(7000, 8)};
    finishChoice = FinishChoice::Finish;
    RunTimers();
    commands.insert(commands.end(), {"hello", "FA:0", "FE:0", "FC:0", "FD:0", "FD:1", "FE:1", "FC:1", "FD:2",
                                     "FD:3", "FE:2", "FC:2", "FD:4", "FB:0"});
    EXPECT_EQ(Commands(*scope), commands);
    ExpectFlashHoldsTheImage(12288);
    // The run's state from its start to its end, for each run.
    EXPECT_EQ(
        std::tuple(maxima[kSectorBar], Text(kStatus), running, ended),
        std::tuple(Ints{20, 19, 20, 20, 18}, "  ", std::vector{true, false, true, false}, DialogEnd::Cancel));
    // Every command, the hello included, empties the receive queue first.
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_TRUE(calls[i].rfind("Write", 0) != 0 || calls[i - 1] == "Purge 1") << i;
    // Once the last block is acknowledged, Exit ends the window without asking.
    ended.reset(), sequencer.OnExit();
    EXPECT_EQ(std::pair(ended, questions), std::pair(std::optional(DialogEnd::Cancel), 0));
}

// One budget of ten retries for all steps; the eleventh failure halts, as does an image too large.
TEST(DownloadErrorBudget, TenFailuresAreRetriedTheEleventhHalts) {
    // Image length, faults (1 hello; 2 geometry, 4 erase 0, 6 blank 0, 10-12 erase 1, 14-18 blank 1),
    // message, error count text, commands sent.
    const std::tuple<std::size_t, const char*, const char*, const char*, std::size_t> cases[] = {
        {5000, "status@2,4,6,10,11,12,14,15,16,17", nullptr, " 10", 21},
        {5000, "status@2,4,6,10,11,12,14,15,16,17,18", texts::kServiceProblem, " 11", 18},
        {9000, nullptr, texts::kFileMismatch, "  0", 12}};
    for (const auto& [length, faults, message, errorText, commands] : cases) {
        SCOPED_TRACE(errorText);
        Rig run;
        run.Begin(2, 2, length, faults ? Strings{"--fault", faults} : Strings{});
        run.RunTimers();
        EXPECT_EQ(std::tuple(run.messages, run.Text(kErrorCount), Commands(*run.scope).size()),
                  std::tuple(message ? Strings{message} : Strings{}, errorText, commands));
        EXPECT_EQ(std::ranges::count(run.armings, 100, &std::pair<int, int>::second), 11); // poll, 10 retries
        EXPECT_EQ(run.running, (std::vector{true, false})) << "a halt ends the run too";
        // A halt leaves the buttons off, no step armed and no flash written (no end command was sent).
        EXPECT_EQ(std::tuple(run.enabled[kConnect] || run.enabled[kOpenBin], run.due.empty(),
                             std::filesystem::exists(run.flash)),
                  std::tuple(false, true, !message));
        if (message)
            continue;
        run.ExpectFlashHoldsTheImage(8192);
        // A failed erase repeats the whole step: the sector bar goes back to 0 each time.
        EXPECT_EQ(Ints(run.positions[kSectorBar].begin() + 7, run.positions[kSectorBar].end()),
                  (Ints{0, 0, 0, 0, 10, 18, 18, 19}));
    }
}

// The hello asks for an image (none on top of an open selection), then the run waits for Connect; no
// selection during the run; Exit answered No leaves the run going, Yes ends the window and the run.
TEST_F(Loader, SelectionAtTheHelloNoneDuringTheRunAndExitWhenConfirmed) {
    Begin(2, 2, 3000);
    whileChoosing = [&] { RunTimers(); };
    sequencer.OnOpenBin();
    EXPECT_EQ(std::tuple(chooserCalls, link.ImageLength(), Text(kStatus), enabled[kConnect], due.empty()),
              std::tuple(2, 4096, texts::kReady, true, true));
    sequencer.OnConnect();
    EXPECT_FALSE(enabled[kConnect]);
    RunTimers([&] { return sequencer.BlockIndex() == 1; });
    sequencer.OnOpenBin(), sequencer.OnExit();
    EXPECT_EQ(std::pair(chooserCalls, running), std::pair(2, std::vector{true}));
    answerYes = true;
    sequencer.OnExit();
    EXPECT_EQ(std::pair(running, ended),
              std::pair(std::vector{true, false}, std::optional(DialogEnd::Cancel)));
}

// Too long a file, a folder and a FIFO are refused (unread); one that cannot be opened is shown; the image
// stays.
TEST_F(Loader, RefusedAndFailedFilesKeepTheEarlierImage) {
    const std::string huge = folder + "/huge.BIN", fifo = folder + "/fifo.BIN";
    WriteBytes(huge, {});
    std::filesystem::resize_file(huge, 8386560);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    files = {MakeImage(3000), huge, folder + "/", fifo, folder + "/gone.BIN"};
    sequencer.OnOpenBin();
    EXPECT_EQ(Text(kFileSize), "3,000 Bytes");
    const std::pair shown(textLog, enabled);
    const Bytes before(link.Image().Data(), link.Image().Data() + FirmwareImage::kBufferSize);
    for (int i = 0; i < 3; ++i)
        sequencer.OnOpenBin();
    EXPECT_EQ(std::pair(textLog, enabled), shown);
    sequencer.OnOpenBin();
    EXPECT_EQ(messages, (Strings{texts::kFileTooLong, folder + "/" + texts::kFileNotRegular,
                                 fifo + texts::kFileNotRegular}));
    EXPECT_EQ(std::tuple(Text(kFileName), Text(kFileSize), maxima[kTotalBar], link.ImageLength()),
              std::tuple(folder + "/gone.BIN", "", Ints{2, 2}, 4096));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), link.Image().Data()));
}

// Cases the fault campaign found: a scope told to go away after the reply to command N answers nothing
// after that reply, however quickly the host sends its next command, and leaves no flash file...
TEST_F(Loader, NoCommandAfterTheLastReplyBeforeAnUnplugIsAnswered) {
    Begin(2, 2, 0, {"--unplug-after-commands", "1"});
    ASSERT_EQ(link.Connect(), ScopeLink::kReady) << "the hello, command 1, is answered";
    // At once, while the scope still waits for the host to take that reply.
    EXPECT_EQ(link.EraseSector(0), 0) << "the scope answered a command after its last";
    EXPECT_EQ(scope->WaitForEvents("unplug", 1).size(), 1u);
    EXPECT_EQ(Commands(*scope), (Strings{"hello"}));
    EXPECT_FALSE(std::filesystem::exists(flash));
}

// ... and once it is back, the next hello is answered.
TEST_F(Loader, AfterTheReplugTheNextHelloIsAnswered) {
    Begin(2, 2, 0, {"--unplug-after-commands", "2", "--replug-after-ms", "50"});
    ASSERT_EQ(link.Connect(), ScopeLink::kReady);
    EXPECT_EQ(link.QueryGeometry(), 1) << "command 2 is answered";
    EXPECT_EQ(link.BlankCheck(0), 0);
    int connected = ScopeLink::kNotYet;
    for (int i = 0; i < 100 && connected == ScopeLink::kNotYet; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)), connected = link.Connect();
    EXPECT_EQ(connected, ScopeLink::kReady);
    EXPECT_EQ(link.EraseSector(1), BootPacket::kAcknowledged);
    EXPECT_EQ(Commands(*scope), (Strings{"hello", "FA:0", "hello", "FE:1"}));
}

} // namespace
