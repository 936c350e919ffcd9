// scopectl's command line: the command, its options, and the help texts.
#pragma once

#include <optional>
#include <string>

namespace scopectl {

struct ListOptions {
    bool json = false;
};

struct CaptureOptions {
    std::string output; // empty: automatic names in the current folder
    int zoom = 1;
    std::string format = "bmp";
    bool formatGiven = false;
    int count = 1;
    double intervalSeconds = 0;
    int device = 0;
    bool force = false;
};

struct FlashOptions {
    std::string file;
    int device = 0;
    double waitSeconds = 10;
    bool yes = false;
    bool json = false;
};

struct Invocation {
    enum class Command { Help, Version, List, Capture, Flash };
    Command command = Command::Help;
    // --help given to a command: its help, nothing else.
    bool commandHelp = false;
    ListOptions list;
    CaptureOptions capture;
    FlashOptions flash;
};

// The invocation, or nothing with the reason in *error.
std::optional<Invocation> ParseCommandLine(int argc, char** argv, std::string* error);

// The help of the program (Help) or of one command.
std::string HelpText(Invocation::Command command);
std::string VersionText();

} // namespace scopectl
