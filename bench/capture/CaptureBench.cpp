// Frames per second in real time against the virtual scope's live demo at its default
// link model, through the capture logic driven by a real 1 ms precise timer; then the
// CPU share of the program while it only polls (scope attached, no capture running).
#include "CaptureBenchRig.h"
#include "QtWindowTimers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <string>
#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunFor(int ms) {
    QTimer::singleShot(ms, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    CaptureBenchRig* rig = nullptr;
    unsigned ticks = 0;
    appsupport::QtWindowTimers timers([&](int id) {
        ++ticks;
        rig->link.OnCaptureTimer(id);
    });
    CaptureBenchRig bench("capture-bench", timers);
    rig = &bench;
    if (!bench.Start())
        return 1;
    capture::FrameReceiver& receiver = bench.receiver;

    constexpr int kRunMs = 5000;
    receiver.StartRealTime();
    QElapsedTimer elapsed;
    elapsed.start();
    RunFor(kRunMs);
    const double seconds = elapsed.nsecsElapsed() / 1e9;
    const unsigned frames = receiver.FramesDrawn();
    const unsigned streamTicks = ticks;
    receiver.StopCapture();
    RunFor(200);

    ticks = 0;
    const double cpuBefore = CpuSeconds();
    elapsed.restart();
    RunFor(kRunMs);
    const double idleSeconds = elapsed.nsecsElapsed() / 1e9;
    const double idleCpu = CpuSeconds() - cpuBefore;

    std::printf("measurement                          value\n");
    std::printf("real-time frames per second          %.1f  (%u frames in %.2f s, %u ticks)\n",
                frames / seconds, frames, seconds, streamTicks);
    std::printf(
        "idle polling CPU share               %.2f %%  (%.3f s CPU in %.2f s, %u ticks, %.0f ticks/s)\n",
        100.0 * idleCpu / idleSeconds, idleCpu, idleSeconds, ticks, ticks / idleSeconds);
    std::printf("messages shown                       %d\n", bench.messages.shown);

    bench.link.CloseLink();
    return 0;
}
