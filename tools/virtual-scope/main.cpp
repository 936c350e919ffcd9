// virtual-scope: the Automotive Scope on its USB serial bridge, as a program,
// for demonstrations, tests and benchmarks without the hardware.
#include "BridgeLink.h"
#include "EventLog.h"
#include "Options.h"
#include "VirtualScope.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (!vscope::VirtualScope::BlockControlSignals()) {
        std::fprintf(stderr, "virtual-scope: cannot block the control signals\n");
        return 1;
    }
    vscope::Options options;
    if (std::string error = vscope::Options::Parse(argc, argv, options); !error.empty()) {
        std::fprintf(stderr, "virtual-scope: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(vscope::Options::HelpText().c_str(), stdout);
        return 0;
    }
    vscope::EventLog log;
    if (!options.logPath.empty()) {
        if (std::string error = log.Open(options.logPath); !error.empty()) {
            std::fprintf(stderr, "virtual-scope: %s\n", error.c_str());
            return 1;
        }
    }
    vscope::BridgeLink::RemoveLinkOnCrash();
    vscope::VirtualScope scope(options, log);
    if (std::string error = scope.Prepare(); !error.empty()) {
        std::fprintf(stderr, "virtual-scope: %s\n", error.c_str());
        return 1;
    }
    return scope.Run();
}
