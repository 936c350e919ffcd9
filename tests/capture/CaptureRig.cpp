#include "CaptureRig.h"

#include "VirtualScopeProcess.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace capturetest {

std::string BinDirectory() {
    return SCOPE_BIN_DIR;
}

std::string SubstituteDirectory(const std::string& variant) {
    return std::string(SCOPE_SUBSTITUTES_DIR) + "/" + variant;
}

void RecordingMessages::ShowMessage(const QString& text) {
    shown << text;
    if (whileShown)
        whileShown();
}

bool RecordingMessages::AskYesNo(const QString& question) {
    shown << question;
    return answerYes;
}

void RecordingTimers::StartTimer(int id, int periodMs) {
    if (id == capture::CaptureLink::kCaptureTimer) {
        running = true;
        period = periodMs;
    }
}

void RecordingTimers::StopTimer(int id) {
    if (id == capture::CaptureLink::kCaptureTimer)
        running = false;
}

CaptureRig::CaptureRig(const std::string& libraryDir, const std::string& fileName)
    : receiver(state, driver, canvas, window, clock),
      link(state, driver, receiver, canvas, messages, timers, clock,
           capture::CaptureLink::Binding{fileName, {libraryDir}}) {}

bool CaptureRig::TickUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        Tick();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

void CaptureRig::TickFor(int ms) {
    TickUntil([] { return false; }, ms);
}

int ScreenRequests(const std::vector<std::string>& logLines) {
    int requests = 0;
    for (const std::string& line : logLines)
        if (testsupport::Field(line, "ev") == "cmd" && testsupport::Field(line, "kind") == "screen")
            ++requests;
    return requests;
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace capturetest
