#pragma once

#include "FaultSchedule.h"

#include <cstdint>
#include <string>

namespace vscope {

struct Options {
    enum class Firmware { Screen, BootLoader };
    Firmware firmware = Firmware::Screen;
    std::string name = "scope0";
    std::string logPath;

    double throughput = 1000000; // bytes per second, 0 = unlimited
    double latencyMs = 1;

    std::string picture = "demo";
    std::uint8_t headerFill = 0;

    unsigned blocksPerSector = 32;
    unsigned sectors = 128;
    std::string flashFile;
    bool flashInitialOld = true;
    double eraseMs = 20;
    double programMs = 2;

    FaultSchedule faults;
    double lateMs = 2050;
    double stallMs = 1500;
    std::uint64_t unplugAfterCommands = 0; // 0 = never
    std::uint64_t unplugAfterBytes = 0;    // 0 = never
    double replugAfterMs = -1;             // < 0 = wait for SIGUSR2
    bool busy = false;
    double busyForMs = -1; // < 0 = not set

    bool help = false;

    // Empty on success, else what is wrong with the command line.
    static std::string Parse(int argc, char** argv, Options& options);
    static std::string HelpText();
};

} // namespace vscope
