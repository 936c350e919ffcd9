#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

namespace scopectl {

namespace {

using Command = Invocation::Command;

constexpr const char* kExitCodes = "Exit status:\n"
                                   "  0    done\n"
                                   "  1    the download halted, or the capture failed\n"
                                   "  2    usage error, or a file that cannot be read or is refused\n"
                                   "  3    no scope found, or it cannot be opened (permission, busy)\n"
                                   "  130  interrupted\n";

constexpr const char* kProgramHelp =
    "Usage: scopectl COMMAND [OPTION]...\n"
    "The Automotive Scope from the command line: list the attached scopes, capture the\n"
    "scope's screen, write a firmware image through its boot loader.\n"
    "\n"
    "Commands:\n"
    "  list      one line per attached bridge, and whether it can be opened now\n"
    "  capture   save pictures of the scope's screen as BMP or PNG files\n"
    "  flash     write a firmware image (*.BIN) into the scope\n"
    "\n"
    "  --help     show this text; COMMAND --help shows the command's\n"
    "  --version  show the version\n"
    "\n";

constexpr const char* kListHelp =
    "Usage: scopectl list [--json]\n"
    "One line per attached bridge: index, name, description, virtual or USB,\n"
    "and whether it can be opened now (ready, or why not: permission, busy\n"
    "with the holding process where known). Exit status 3 when none is attached.\n"
    "\n"
    "  --json     one JSON object per bridge and line\n"
    "  --help     show this text\n"
    "\n";

constexpr const char* kCaptureHelp =
    "Usage: scopectl capture [-o PATH] [--zoom 1|2] [--format bmp|png] [--count N]\n"
    "                        [--interval SECONDS] [--device N] [--force]\n"
    "Asks the scope for its screen and writes each picture, printing each path written.\n"
    "A BMP is the same file that Quorvex's Save writes at that zoom.\n"
    "\n"
    "  -o, --output PATH    the file to write; with --count above 1 the number goes\n"
    "                       before the extension (PATH-001.bmp, ...). Without -o:\n"
    "                       scope-YYYYMMDD-HHMMSS-NNN.bmp in the current folder, local\n"
    "                       time, NNN counting up so that no name repeats\n"
    "  --zoom 1|2           240 x 280 pixels, or 480 x 560 (default 1)\n"
    "  --format bmp|png     file format (default bmp, or png for a PATH ending in .png)\n"
    "  --count N            pictures to take (default 1)\n"
    "  --interval SECONDS   from the start of one picture to the next (default 0)\n"
    "  --device N           the bridge to use, as scopectl list numbers them (default 0)\n"
    "  --force              replace an existing file (otherwise exit status 2)\n"
    "  --help               show this text\n"
    "\n";

constexpr const char* kFlashHelp =
    "Usage: scopectl flash FILE [--device N] [--wait SECONDS] [--yes] [--json]\n"
    "Writes the firmware image FILE into the scope through its boot loader, exactly as\n"
    "Haldrin does. The file is checked first; then scopectl asks once for confirmation,\n"
    "waits for the boot loader to answer, and writes the image. Ctrl+C stops after the\n"
    "command on its way (the flash is then partly written: write it again).\n"
    "\n"
    "  --device N       the bridge to use, as scopectl list numbers them (default 0)\n"
    "  --wait SECONDS   how long to wait for the boot loader (default 10)\n"
    "  --yes            do not ask for confirmation (needed without a terminal)\n"
    "  --json           one JSON object per step, and a last one with the outcome\n"
    "  --help           show this text\n"
    "\n";

bool ParseInt(const std::string& text, int minimum, int maximum, int* value) {
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < minimum || parsed > maximum)
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseSeconds(const std::string& text, double* value) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(parsed) || parsed < 0 || parsed > 86400)
        return false;
    *value = parsed;
    return true;
}

// One option of a command: whether it takes a value, and what it does with it
// (false: the value is not valid).
struct Option {
    bool takesValue;
    std::function<bool(const std::string&)> apply;
};

struct Parser {
    std::string command;
    std::map<std::string, Option> options;
    std::function<bool(const std::string&)> operand; // null: none taken
    std::string* error;

    bool Fail(const std::string& text) {
        *error = command + ": " + text;
        return false;
    }

    bool Run(const std::vector<std::string>& args, bool* help) {
        for (std::size_t i = 0; i < args.size(); ++i) {
            std::string name = args[i];
            std::optional<std::string> value;
            if (name == "--help") {
                *help = true;
                continue;
            }
            if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
                value = name.substr(name.find('=') + 1);
                name = name.substr(0, name.find('='));
            }
            if (name.size() > 1 && name[0] == '-') {
                const auto found = options.find(name);
                if (found == options.end())
                    return Fail("unknown option " + name);
                if (found->second.takesValue && !value) {
                    if (i + 1 >= args.size())
                        return Fail("option " + name + " needs a value");
                    value = args[++i];
                }
                if (!found->second.takesValue && value)
                    return Fail("option " + name + " takes no value");
                if (!found->second.apply(value.value_or("")))
                    return Fail("invalid value '" + *value + "' for " + name);
            } else if (!operand || !operand(name)) {
                return Fail("unexpected argument '" + name + "'");
            }
        }
        return true;
    }
};

Option Flag(bool* target) {
    return {false, [target](const std::string&) { return *target = true; }};
}

Option Integer(int* target, int minimum, int maximum) {
    return {true, [=](const std::string& v) { return ParseInt(v, minimum, maximum, target); }};
}

Option Seconds(double* target) {
    return {true, [target](const std::string& v) { return ParseSeconds(v, target); }};
}

Parser ListParser(ListOptions& o, std::string* error) {
    return {"list", {{"--json", Flag(&o.json)}}, nullptr, error};
}

Parser CaptureParser(CaptureOptions& o, std::string* error) {
    const Option output{true, [&o](const std::string& v) {
                            o.output = v;
                            return !v.empty();
                        }};
    const Option zoom{
        true, [&o](const std::string& v) { return (v == "1" || v == "2") && ParseInt(v, 1, 2, &o.zoom); }};
    const Option format{true, [&o](const std::string& v) {
                            o.format = v;
                            o.formatGiven = true;
                            return v == "bmp" || v == "png";
                        }};
    return {"capture",
            {{"-o", output},
             {"--output", output},
             {"--zoom", zoom},
             {"--format", format},
             {"--count", Integer(&o.count, 1, 100000)},
             {"--interval", Seconds(&o.intervalSeconds)},
             {"--device", Integer(&o.device, 0, 255)},
             {"--force", Flag(&o.force)}},
            nullptr,
            error};
}

Parser FlashParser(FlashOptions& o, std::string* error) {
    return {"flash",
            {{"--device", Integer(&o.device, 0, 255)},
             {"--wait", Seconds(&o.waitSeconds)},
             {"--yes", Flag(&o.yes)},
             {"--json", Flag(&o.json)}},
            [&o](const std::string& v) {
                if (!o.file.empty() || v.empty())
                    return false;
                o.file = v;
                return true;
            },
            error};
}

} // namespace

std::optional<Invocation> ParseCommandLine(int argc, char** argv, std::string* error) {
    Invocation invocation;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        *error = "no command given";
        return std::nullopt;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help")
        return invocation;
    if (command == "--version") {
        invocation.command = Command::Version;
        return invocation;
    }
    bool parsed = false;
    if (command == "list") {
        invocation.command = Command::List;
        parsed = ListParser(invocation.list, error).Run(args, &invocation.commandHelp);
    } else if (command == "capture") {
        invocation.command = Command::Capture;
        parsed = CaptureParser(invocation.capture, error).Run(args, &invocation.commandHelp);
    } else if (command == "flash") {
        invocation.command = Command::Flash;
        parsed = FlashParser(invocation.flash, error).Run(args, &invocation.commandHelp);
        if (parsed && !invocation.commandHelp && invocation.flash.file.empty()) {
            *error = "flash: no firmware file given";
            parsed = false;
        }
    } else {
        *error = "unknown command '" + command + "'";
    }
    if (!parsed)
        return std::nullopt;
    return invocation;
}

std::string HelpText(Invocation::Command command) {
    switch (command) {
    case Command::List:
        return std::string(kListHelp) + kExitCodes;
    case Command::Capture:
        return std::string(kCaptureHelp) + kExitCodes;
    case Command::Flash:
        return std::string(kFlashHelp) + kExitCodes;
    default:
        return std::string(kProgramHelp) + kExitCodes;
    }
}

std::string VersionText() {
    return std::string("scopectl ") + SCOPECTL_VERSION + "\n";
}

} // namespace scopectl
