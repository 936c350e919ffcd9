// The instructions one frame costs Quorvex's capture logic, for callgrind:
// real time against the virtual scope's live demo, and each complete frame
// received and rendered by ReceiveOneFrame, through the driver table bound by
// name as Quorvex binds it (8410 one-byte FT_Read calls). Run as
//   valgrind --tool=callgrind --toggle-collect=ReceiveOneFrame frame-cost [FRAMES]
// and divide the collected instructions by FRAMES (default 200).
#include "CaptureBenchRig.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

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
    NoTimers timers;
    CaptureBenchRig rig("frame-cost", timers);
    if (!rig.Start())
        return 1;
    capture::FrameReceiver& receiver = rig.receiver;
    receiver.StartRealTime();
    while (receiver.FramesDrawn() < frames) {
        DWORD waiting = 0;
        rig.driver.m_getQueueStatus(rig.state.m_driverHandle, &waiting);
        if (waiting == static_cast<DWORD>(capture::kScreenFrameBytes)) {
            // Settled, as on the window's ticks: no byte more is on its way.
            std::this_thread::sleep_for(std::chrono::milliseconds(6));
            ReceiveOneFrame(receiver);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    std::printf("frames=%u\n", receiver.FramesDrawn());
    rig.link.CloseLink();
    return 0;
}
