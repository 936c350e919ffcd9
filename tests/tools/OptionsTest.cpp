#include "Options.h"

#include <gtest/gtest.h>

// Values that would wrap in a reply byte, leave the link folder or slip past
// as a default must stop the scope before it plugs in.
TEST(Options, RejectsValuesTheDeviceCannotHave) {
    for (std::vector<std::string> bad : {std::vector<std::string>{"--firmware", "usb"},
                                         {"--sectors", "256"},
                                         {"--blocks-per-sector", "0"},
                                         {"--latency-ms", "-1"},
                                         {"--header-fill", "300"},
                                         {"--name", "a/b"},
                                         {"--name", ".."},
                                         {"--bogus"},
                                         {"--log"},
                                         {"--fault", "drop"},
                                         {"--fault-seed", "1", "--fault-kinds", "none"}}) {
        bad.insert(bad.begin(), "virtual-scope");
        std::vector<char*> argv;
        for (auto& a : bad)
            argv.push_back(a.data());
        vscope::Options o;
        EXPECT_NE(vscope::Options::Parse(int(argv.size()), argv.data(), o), "") << bad[1];
    }
}
