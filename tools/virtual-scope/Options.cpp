#include "Options.h"

#include "FrameBuilder.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace vscope {

namespace {

bool ToUnsigned(const std::string& text, std::uint64_t& value) {
    const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
    return begin != end && ec == std::errc() && ptr == end;
}

bool ToMs(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value) && value >= 0;
}

} // namespace

std::string Options::HelpText() {
    return "Usage: virtual-scope [OPTION]...\n"
           "Stands in for the Automotive Scope on its USB serial bridge: creates a pseudo-terminal\n"
           "and a link NAME to it in $XDG_RUNTIME_DIR/virtual-bridges (or <temp dir>/virtual-bridges-<uid>\n"
           "when XDG_RUNTIME_DIR is unset), where the driver library finds it as an attached device.\n"
           "\n"
           "  --firmware screen|bootloader   firmware to run (default screen)\n"
           "  --name NAME                    link name (default scope0)\n"
           "  --log PATH                     event log, one 't=<ms> ev=<event> key=value...' line per event\n"
           "  --help                         show this text\n"
           "\n"
           "Link model (default: a full-speed bridge FIFO):\n"
           "  --throughput BYTES_PER_S       scope-to-host rate, sent in 1 ms slots (default 1000000;\n"
           "                                 0 = unlimited)\n"
           "  --latency-ms MS                time from the last byte of a command to the start of its\n"
           "                                 reply (default 1; 0 = none)\n"
           "\n"
           "Screen firmware (answers each 51 42 0D with one 8410-byte screen frame):\n"
           "  --picture demo|FILE|pattern:NAME\n"
           "                                 demo: live ignition secondary trace (default); FILE: any\n"
           "                                 image Qt reads, scaled to 240 x 280 and thresholded;\n"
           "                                 patterns: " +
           std::string(FrameBuilder::PatternNames()) +
           "\n"
           "  --header-fill BYTE             value of the 10 header bytes (default 0)\n"
           "\n"
           "Boot-loader firmware:\n"
           "  --blocks-per-sector N          2048-byte blocks per sector, 1-255 (default 32)\n"
           "  --sectors N                    sectors, 1-255 (default 128)\n"
           "  --flash-file PATH              whole flash written atomically at the end command and on exit\n"
           "  --flash-initial erased|old     flash contents at start (default old: not blank, so an\n"
           "                                 erase is needed)\n"
           "  --erase-ms MS                  device time per sector erase (default 20)\n"
           "  --program-ms MS                device time per block programmed (default 2)\n"
           "\n"
           "Faults (command numbers count from 1 in the order received, hello and screen requests too):\n"
           "  --fault KIND@N[,N...]          repeatable; KIND: drop (no reply), short (3 bytes; screen:\n"
           "                                 4205), status (status 'X'; screen: as short), late (reply\n"
           "                                 after --late-ms, later commands wait), noise (reply, then\n"
           "                                 02 FD 41 00 00 03; screen: one stray byte 0x55), stall\n"
           "                                 (half the reply, a pause of --stall-ms, then the rest)\n"
           "  --late-ms MS                   delay of a late reply (default 2050)\n"
           "  --stall-ms MS                  pause inside a stalled reply (default 1500)\n"
           "  --fault-seed S                 seeded random schedule: S picks it (same S, same schedule)\n"
           "  --fault-rate P                 share of commands hit, 0-1 (default 0.1 when a seed is given)\n"
           "  --fault-kinds k1,k2            kinds drawn from (default drop,short,status,late,noise)\n"
           "  --unplug-after-commands N      unplug once the reply to command N has been sent (once)\n"
           "  --unplug-after-bytes N         unplug as soon as N bytes have been received (once)\n"
           "  --replug-after-ms MS           plug in again MS after every unplug (default: wait for "
           "SIGUSR2)\n"
           "  --busy                         hold an exclusive lock on the device all the time, so opens "
           "fail\n"
           "  --busy-for-ms MS               hold it only for the first MS after start\n"
           "\n"
           "Signals: SIGUSR1 unplug now, SIGUSR2 replug now, SIGINT/SIGTERM/SIGHUP exit (link removed,\n"
           "flash file written).\n";
}

std::string Options::Parse(int argc, char** argv, Options& o) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool seeded = false;
    std::uint64_t seed = 0;
    double rate = 0.1;
    std::string kinds = "drop,short,status,late,noise";
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string key = args[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = key.find('='); key.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
            hasValue = true;
        }
        if (key == "--help" || key == "-h") {
            o.help = true;
            continue;
        }
        if (key == "--busy") {
            o.busy = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size())
                return "option " + key + " needs a value (see --help)";
            value = args[++i];
        }
        std::uint64_t u = 0;
        double ms = 0;
        const std::string bad = "option " + key + ": '" + value + "' is not ";
        if (key == "--firmware") {
            if (value == "screen")
                o.firmware = Firmware::Screen;
            else if (value == "bootloader")
                o.firmware = Firmware::BootLoader;
            else
                return bad + "screen or bootloader";
        } else if (key == "--name") {
            if (value.empty() || value.find('/') != std::string::npos || value[0] == '.')
                return bad + "a usable link name (no '/', not starting with '.')";
            o.name = value;
        } else if (key == "--log") {
            o.logPath = value;
        } else if (key == "--throughput") {
            if (!ToMs(value, o.throughput))
                return bad + "a byte rate";
        } else if (key == "--latency-ms") {
            if (!ToMs(value, o.latencyMs))
                return bad + "a time in milliseconds";
        } else if (key == "--picture") {
            o.picture = value;
        } else if (key == "--header-fill") {
            if (!ToUnsigned(value, u) || u > 255)
                return bad + "a byte value 0-255";
            o.headerFill = std::uint8_t(u);
        } else if (key == "--blocks-per-sector" || key == "--sectors") {
            if (!ToUnsigned(value, u) || u < 1 || u > 255)
                return bad + "a count 1-255 (the geometry reply carries it in one byte)";
            (key == "--sectors" ? o.sectors : o.blocksPerSector) = unsigned(u);
        } else if (key == "--flash-file") {
            o.flashFile = value;
        } else if (key == "--flash-initial") {
            if (value == "old")
                o.flashInitialOld = true;
            else if (value == "erased")
                o.flashInitialOld = false;
            else
                return bad + "erased or old";
        } else if (key == "--erase-ms" || key == "--program-ms" || key == "--late-ms" ||
                   key == "--stall-ms" || key == "--replug-after-ms" || key == "--busy-for-ms") {
            if (!ToMs(value, ms))
                return bad + "a time in milliseconds";
            if (key == "--erase-ms")
                o.eraseMs = ms;
            else if (key == "--program-ms")
                o.programMs = ms;
            else if (key == "--late-ms")
                o.lateMs = ms;
            else if (key == "--stall-ms")
                o.stallMs = ms;
            else if (key == "--replug-after-ms")
                o.replugAfterMs = ms;
            else
                o.busyForMs = ms;
        } else if (key == "--fault") {
            if (std::string e = o.faults.AddExplicit(value); !e.empty())
                return e;
        } else if (key == "--fault-seed") {
            if (!ToUnsigned(value, seed))
                return bad + "a number";
            seeded = true;
        } else if (key == "--fault-rate") {
            if (!ToMs(value, rate) || rate > 1)
                return bad + "a share between 0 and 1";
        } else if (key == "--fault-kinds") {
            kinds = value;
        } else if (key == "--unplug-after-commands" || key == "--unplug-after-bytes") {
            if (!ToUnsigned(value, u) || u == 0)
                return bad + "a count of 1 or more";
            (key == "--unplug-after-bytes" ? o.unplugAfterBytes : o.unplugAfterCommands) = u;
        } else {
            return "unknown option " + key + " (see --help)";
        }
    }
    if (seeded) {
        if (std::string e = o.faults.SetRandom(seed, rate, kinds); !e.empty())
            return e;
    }
    return {};
}

} // namespace vscope
