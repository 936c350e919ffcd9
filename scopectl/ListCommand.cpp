#include "ListCommand.h"

#include "BridgeListing.h"
#include "ExitCodes.h"
#include "JsonLine.h"

#include <cstdio>

namespace scopectl {

namespace {
std::string State(const usbdriver::BridgeStatus& bridge) {
    std::string state = usbdriver::AccessName(bridge.access);
    if (bridge.access == usbdriver::BridgeStatus::Access::Busy)
        state += " (" + (bridge.holder.empty() ? std::string("another program") : bridge.holder) + ")";
    return state;
}
} // namespace

int RunList(const ListOptions& options) {
    const std::vector<usbdriver::BridgeStatus> bridges = usbdriver::ListBridges();
    for (const usbdriver::BridgeStatus& bridge : bridges) {
        const char* kind = bridge.isVirtual ? "virtual" : "USB";
        if (options.json) {
            JsonLine line;
            line.Number("index", bridge.index)
                .Text("name", bridge.name)
                .Text("description", bridge.description)
                .Text("kind", kind)
                .Text("node", bridge.node)
                .Text("state", usbdriver::AccessName(bridge.access))
                .Boolean("ready", bridge.access == usbdriver::BridgeStatus::Access::Ready);
            if (!bridge.holder.empty())
                line.Text("holder", bridge.holder);
            if (!bridge.advice.empty())
                line.Text("advice", bridge.advice);
            std::printf("%s\n", line.Str().c_str());
        } else {
            std::printf("%d\t%s\t%s\t%s\t%s\n", bridge.index, bridge.name.c_str(), bridge.description.c_str(),
                        kind, State(bridge).c_str());
            if (!bridge.advice.empty())
                std::fprintf(stderr, "%s\n", bridge.advice.c_str());
        }
    }
    if (bridges.empty()) {
        std::fprintf(stderr,
                     "scopectl: list: no scope found: no bridge is attached (plug the scope in; without "
                     "access rights a USB bridge is still listed)\n");
        return kExitNoScope;
    }
    return kExitDone;
}

} // namespace scopectl
