#include "Options.h"

#include "FrameBuilder.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace vscope {

namespace {

// The geometry reply carries the block and sector counts in one byte each.
constexpr std::uint64_t kMaxGeometryCount = 255;
constexpr std::uint64_t kMaxByte = 255; // --header-fill: one byte
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
constexpr double kDefaultFaultRate = 0.1;
constexpr const char* kDefaultFaultKinds = "drop,short,status,late,noise";

// The seeded schedule's settings, applied once the whole line is read.
struct RandomFaults {
    bool seeded = false;
    std::uint64_t seed = 0;
    double rate = kDefaultFaultRate;
    std::string kinds = kDefaultFaultKinds;
};

// One option's value on its way into the options.
struct Arg {
    const std::string& key;
    const std::string& value;
    Options& options;
    RandomFaults& random;

    std::string Bad(const char* what) const { return "option " + key + ": '" + value + "' is not " + what; }
};

// Stores an option's value; empty on success, else what is wrong with it.
using Store = std::string (*)(const Arg&);

// One row of the option table: its name, whether a value follows it (as the
// next argument or after '='), and how that value is checked and stored.
struct Flag {
    const char* name;
    bool takesValue;
    Store store;
};

bool ToUnsigned(const std::string& text, std::uint64_t& value) {
    const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
    return begin != end && ec == std::errc() && ptr == end;
}

// A finite number of 0 or more: a time, a rate or a share.
bool ToAmount(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value) && value >= 0;
}

template <class T>
std::string Whole(const Arg& arg, T& field, std::uint64_t min, std::uint64_t max, const char* what) {
    std::uint64_t value = 0;
    if (!ToUnsigned(arg.value, value) || value < min || value > max)
        return arg.Bad(what);
    field = T(value);
    return {};
}

template <auto Field> std::string Switch(const Arg& arg) {
    arg.options.*Field = true;
    return {};
}

template <auto Field> std::string Text(const Arg& arg) {
    arg.options.*Field = arg.value;
    return {};
}

template <auto Field> std::string Time(const Arg& arg) {
    return ToAmount(arg.value, arg.options.*Field) ? "" : arg.Bad("a time in milliseconds");
}

template <auto Field> std::string GeometryCount(const Arg& arg) {
    return Whole(arg, arg.options.*Field, 1, kMaxGeometryCount,
                 "a count 1-255 (the geometry reply carries it in one byte)");
}

template <auto Field> std::string CountFromOne(const Arg& arg) {
    return Whole(arg, arg.options.*Field, 1, kNoLimit, "a count of 1 or more");
}

std::string FirmwareChoice(const Arg& arg) {
    if (arg.value == "screen")
        arg.options.firmware = Options::Firmware::Screen;
    else if (arg.value == "bootloader")
        arg.options.firmware = Options::Firmware::BootLoader;
    else
        return arg.Bad("screen or bootloader");
    return {};
}

std::string LinkName(const Arg& arg) {
    if (arg.value.empty() || arg.value.find('/') != std::string::npos || arg.value[0] == '.')
        return arg.Bad("a usable link name (no '/', not starting with '.')");
    arg.options.name = arg.value;
    return {};
}

std::string FlashInitial(const Arg& arg) {
    if (arg.value == "old")
        arg.options.flashInitialOld = true;
    else if (arg.value == "erased")
        arg.options.flashInitialOld = false;
    else
        return arg.Bad("erased or old");
    return {};
}

std::string FaultSeed(const Arg& arg) {
    if (!ToUnsigned(arg.value, arg.random.seed))
        return arg.Bad("a number");
    arg.random.seeded = true;
    return {};
}

std::string FaultKinds(const Arg& arg) {
    arg.random.kinds = arg.value;
    return {};
}

std::string FaultRate(const Arg& arg) {
    return ToAmount(arg.value, arg.random.rate) && arg.random.rate <= 1 ? ""
                                                                        : arg.Bad("a share between 0 and 1");
}

// Every option, as --help lists it. An option without a value ignores an "=value".
const Flag kFlags[] = {
    {"--help", false, Switch<&Options::help>},
    {"-h", false, Switch<&Options::help>},
    {"--firmware", true, FirmwareChoice},
    {"--name", true, LinkName},
    {"--log", true, Text<&Options::logPath>},
    {"--throughput", true,
     [](const Arg& arg) {
         return ToAmount(arg.value, arg.options.throughput) ? "" : arg.Bad("a byte rate");
     }},
    {"--latency-ms", true, Time<&Options::latencyMs>},
    {"--picture", true, Text<&Options::picture>},
    {"--header-fill", true,
     [](const Arg& arg) { return Whole(arg, arg.options.headerFill, 0, kMaxByte, "a byte value 0-255"); }},
    {"--blocks-per-sector", true, GeometryCount<&Options::blocksPerSector>},
    {"--sectors", true, GeometryCount<&Options::sectors>},
    {"--flash-file", true, Text<&Options::flashFile>},
    {"--flash-initial", true, FlashInitial},
    {"--erase-ms", true, Time<&Options::eraseMs>},
    {"--program-ms", true, Time<&Options::programMs>},
    {"--fault", true, [](const Arg& arg) { return arg.options.faults.AddExplicit(arg.value); }},
    {"--late-ms", true, Time<&Options::lateMs>},
    {"--stall-ms", true, Time<&Options::stallMs>},
    {"--fault-seed", true, FaultSeed},
    {"--fault-rate", true, FaultRate},
    {"--fault-kinds", true, FaultKinds},
    {"--unplug-after-commands", true, CountFromOne<&Options::unplugAfterCommands>},
    {"--unplug-after-bytes", true, CountFromOne<&Options::unplugAfterBytes>},
    {"--replug-after-ms", true, Time<&Options::replugAfterMs>},
    {"--busy", false, Switch<&Options::busy>},
    {"--busy-for-ms", true, Time<&Options::busyForMs>},
};

const Flag* FindFlag(const std::string& name) {
    for (const Flag& flag : kFlags)
        if (name == flag.name)
            return &flag;
    return nullptr;
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

std::string Options::Parse(int argc, char** argv, Options& options) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    RandomFaults random;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string key = args[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = key.find('='); key.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
            hasValue = true;
        }
        // An unknown option is named as such only once it has had its value.
        const Flag* flag = FindFlag(key);
        if ((!flag || flag->takesValue) && !hasValue) {
            if (i + 1 >= args.size())
                return "option " + key + " needs a value (see --help)";
            value = args[++i];
        }
        if (!flag)
            return "unknown option " + key + " (see --help)";
        if (std::string error = flag->store(Arg{key, value, options, random}); !error.empty())
            return error;
    }
    if (random.seeded)
        return options.faults.SetRandom(random.seed, random.rate, random.kinds);
    return {};
}

} // namespace vscope
