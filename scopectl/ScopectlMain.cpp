// scopectl: the Automotive Scope from the command line.
#include "CaptureCommand.h"
#include "CommandLine.h"
#include "ExitCodes.h"
#include "FlashCommand.h"
#include "Interrupt.h"
#include "ListCommand.h"

#include <cstdio>
#include <sys/prctl.h>

using namespace scopectl;

int main(int argc, char** argv) {
    std::string error;
    const std::optional<Invocation> invocation = ParseCommandLine(argc, argv, &error);
    if (!invocation) {
        std::fprintf(stderr, "scopectl: %s\nTry 'scopectl --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (invocation->command == Invocation::Command::Help || invocation->commandHelp) {
        std::fputs(HelpText(invocation->command).c_str(), stdout);
        return kExitDone;
    }
    if (invocation->command == Invocation::Command::Version) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitDone;
    }
    // Steps 1 ms apart are timed to the microsecond, not to the default 50 µs slack.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    CatchInterrupts();
    switch (invocation->command) {
    case Invocation::Command::List:
        return RunList(invocation->list);
    case Invocation::Command::Capture:
        return CaptureCommand(invocation->capture).Run();
    case Invocation::Command::Flash:
        return FlashCommand(invocation->flash).Run();
    default:
        return kExitUsage;
    }
}
