// What the loader tests share: temporary files, virtual-scope options and log
// reading, a recording driver table, and window-less stand-ins for the loader
// window's timers, clock, elements, dialogs and desktop.
#pragma once

#include "Clock.h"
#include "DownloadActivity.h"
#include "DriverOperations.h"
#include "LoaderPrompts.h"
#include "LoaderView.h"
#include "UsbPort.h"
#include "VirtualScopeProcess.h"
#include "WindowTimers.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <unistd.h>

using namespace loader;

namespace loadertest {
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using std::to_string;

// A folder of its own for one test, removed with it.
struct TempFolder {
    std::string dir = (std::filesystem::temp_directory_path() / "haldrin-test-XXXXXX").string();
    TempFolder() { EXPECT_NE(mkdtemp(dir.data()), nullptr); }
    ~TempFolder() { std::filesystem::remove_all(dir, ignored); }
    std::error_code ignored;
    std::string Path(const std::string& name) const { return dir + "/" + name; }
};

// Bytes that differ from block to block and often are the frame bytes 0x02 and 0x03.
inline Bytes Pattern(std::size_t length, unsigned seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 29 + i / 2048) ^ (i >> 9));
    return bytes;
}
inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}
inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Boot-loader firmware with the given geometry and no link delays.
inline Strings BootLoaderOptions(int perSector, int sectors, const std::string& flash, Strings extra = {}) {
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
inline bool WaitUntilDeviceIsBusy() {
    UsbPort port;
    for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        const int opened = port.Open();
        port.Close();
        if (opened == 2)
            return true;
    }
    return false;
}

// Boot-loader commands the virtual scope received, in order: "hello" or "FE:3" (code:address).
inline Strings CommandsInLog(const Strings& logLines) {
    using testsupport::Field;
    Strings commands;
    for (const std::string& line : logLines)
        if (const std::string code = Field(line, "code"); Field(line, "ev") == "cmd" && !code.empty())
            commands.push_back(code == "0xFF" ? "hello" : code.substr(2) + ":" + Field(line, "addr"));
    return commands;
}

// Driver calls as text, e.g. "SetTimeouts 2000 1000"; afterRead may alter what a read gave.
inline Strings recordedCalls;
inline std::function<void(std::uint8_t*, DWORD*)> afterRead;
inline FT_STATUS Note(const std::string& call, FT_STATUS status) {
    return recordedCalls.push_back(call), status;
}
inline const usbdriver::DriverOperations& RecordingDriver() {
    static const usbdriver::DriverOperations table = {
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
            return Note("SetUSBParameters " + to_string(i) + " " + to_string(o),
                        FT_SetUSBParameters(h, i, o));
        }};
    return table;
}
} // namespace loadertest

struct FakeClock : appsupport::Clock {
    std::uint32_t TickCount() override { return now; }
    void Sleep(int ms) override { now += static_cast<std::uint32_t>(ms); }
    std::uint32_t now = 1000;
};

// A timer queue on the fake clock. Running a timer advances the clock to its due
// time and also sleeps the period, so that the virtual scope sees the host's real
// pacing (late replies land in the 100 ms retry gap).
struct FakeTimers : appsupport::WindowTimers {
    explicit FakeTimers(FakeClock& c) : clock(c) {}
    void Start(int id, int periodMs, Kind) override {
        armings.push_back({id, periodMs});
        due[id] = clock.now + static_cast<std::uint32_t>(periodMs);
    }
    void Stop(int id) override { due.erase(id); }
    // Runs the earliest armed timer through handler, left armed: the handler must stop it.
    bool RunNext(const std::function<void(int)>& handler) {
        auto next = due.begin();
        for (auto it = due.begin(); it != due.end(); ++it)
            if (static_cast<std::int32_t>(it->second - next->second) < 0)
                next = it;
        if (next == due.end())
            return false;
        if (const auto wait = static_cast<std::int32_t>(next->second - clock.now); wait > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(wait)), clock.now = next->second;
        handler(next->first);
        return true;
    }
    FakeClock& clock;
    std::map<int, std::uint32_t> due;
    std::vector<std::pair<int, int>> armings; // id, period
};

// Every text, bar maximum and bar position set, in order, per control.
struct FakeView : LoaderView {
    void SetText(int control, const std::string& text) override { texts[control].push_back(text); }
    void EnableButton(int control, bool enabled) override { enabled_[control] = enabled; }
    void SetBarRange(int control, int, int maximum) override { maxima[control].push_back(maximum); }
    void SetBarPosition(int control, int position) override { positions[control].push_back(position); }
    std::string Text(int control) { return texts[control].empty() ? "<unset>" : texts[control].back(); }
    std::map<int, loadertest::Strings> texts;
    std::map<int, bool> enabled_;
    std::map<int, std::vector<int>> maxima, positions;
};

// What the desktop was told, in order: true while the flash is written.
struct FakeActivity : DownloadActivity {
    void DownloadRunning(bool running) override { calls.push_back(running); }
    std::vector<bool> calls;
};

struct FakePrompts : LoaderPrompts {
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
    loadertest::Strings messages, questions;
    bool answerYes = false;
    std::deque<std::optional<std::string>> files;
    std::function<void()> whileChoosing;
    int chooserOpenings = 0, finishDialogs = 0;
    bool choosing = false;
    FinishChoice finishChoice = FinishChoice::Finish;
    std::optional<DialogEnd> ended;
};
