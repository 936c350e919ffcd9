// The floor for Quorvex's idle cost: a Qt program that does nothing but run one
// 1 ms precise timer, with the timer slack Quorvex sets. It runs until it gets
// SIGTERM or SIGINT, then prints how many ticks it had and in what time. With
// --gui it is a QApplication on the display's platform, with no window.
#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char** argv) {
    prctl(PR_SET_TIMERSLACK, 1000UL); // as Quorvex
    const bool gui = argc > 1 && std::strcmp(argv[1], "--gui") == 0;
    std::unique_ptr<QCoreApplication> application =
        gui ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int stopFd = signalfd(-1, &stop, SFD_CLOEXEC);
    QSocketNotifier stopped(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopped, &QSocketNotifier::activated, &QCoreApplication::quit);

    unsigned long long ticks = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    QElapsedTimer elapsed;
    elapsed.start();
    timer.start(1);
    QCoreApplication::exec();
    const double seconds = elapsed.nsecsElapsed() / 1e9;
    std::printf("ticks=%llu seconds=%.3f rate=%.1f\n", ticks, seconds, ticks / seconds);
    close(stopFd);
    return 0;
}
