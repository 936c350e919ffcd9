// The instructions one frame costs Quorvex's capture logic, for callgrind:
// real time against the virtual scope's live demo, and each complete frame
// received and rendered by ReceiveOneFrame, through the driver table bound by
// name as Quorvex binds it (8410 one-byte FT_Read calls). Run as
//   valgrind --tool=callgrind --toggle-collect=ReceiveOneFrame frame-cost [FRAMES]
// and divide the collected instructions by FRAMES (default 200).
#include "CaptureLink.h"
#include "FrameReceiver.h"
#include "ScopeLauncher.h"
#include "SteadyClock.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

struct QuietMessages : appsupport::Messages {
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&) override { return false; }
};

struct NoWindow : capture::WindowPort {
    void InvalidateWindow() override {}
};

struct NoTimers : appsupport::WindowTimers {
    void Start(int, int, Kind) override {}
    void Stop(int) override {}
};

// The tick on which a frame is complete: everything Quorvex does for it.
extern "C" __attribute__((noinline)) void ReceiveOneFrame(capture::FrameReceiver& receiver) {
    receiver.ReceiveFrame();
}

} // namespace

int main(int argc, char** argv) {
    const unsigned frames = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 200;
    const scopelauncher::PrivateRuntimeDir runtime("frame-cost");
    scopelauncher::ScopeLauncher scope;
    if (const std::string error = runtime.path.empty() ? "no runtime folder" : scope.Start({});
        !error.empty()) {
        std::fprintf(stderr, "frame-cost: %s\n", error.c_str());
        return 1;
    }
    capture::DriverTable driver;
    capture::CaptureState state;
    capture::ScreenCanvas canvas;
    QuietMessages messages;
    NoWindow window;
    NoTimers timers;
    appsupport::SteadyClock clock;
    capture::FrameReceiver receiver(state, driver, canvas, window, clock);
    capture::CaptureLink link(state, driver, receiver, canvas, messages, timers, clock,
                              capture::CaptureLink::Binding{});
    if (link.OpenLink() != 1)
        return 1;
    receiver.StartRealTime();
    while (receiver.FramesDrawn() < frames) {
        DWORD waiting = 0;
        driver.m_getQueueStatus(state.m_driverHandle, &waiting);
        if (waiting == static_cast<DWORD>(capture::kScreenFrameBytes)) {
            // Settled, as on the window's ticks: no byte more is on its way.
            std::this_thread::sleep_for(std::chrono::milliseconds(6));
            ReceiveOneFrame(receiver);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    std::printf("frames=%u\n", receiver.FramesDrawn());
    link.CloseLink();
    return 0;
}
