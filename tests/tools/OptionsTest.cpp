#include "Options.h"

#include <gtest/gtest.h>

using vscope::Options;

namespace {

std::string Parse(std::vector<std::string> args, Options& o) {
    args.insert(args.begin(), "virtual-scope");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return Options::Parse(int(argv.size()), argv.data(), o);
}

}  // namespace

TEST(Options, DefaultsModelAFullSpeedBridge) {
    Options o;
    ASSERT_EQ(Parse({}, o), "");
    EXPECT_EQ(o.firmware, Options::Firmware::Screen);
    EXPECT_EQ(o.name, "scope0");
    EXPECT_DOUBLE_EQ(o.throughput, 1000000);
    EXPECT_DOUBLE_EQ(o.latencyMs, 1);
    EXPECT_EQ(o.blocksPerSector, 32u);
    EXPECT_EQ(o.sectors, 128u);
    EXPECT_TRUE(o.flashInitialOld);
    EXPECT_DOUBLE_EQ(o.lateMs, 2050);
    const std::string help = Options::HelpText();
    for (const char* option : {"--firmware", "--throughput", "--latency-ms", "--picture", "--header-fill",
                               "--blocks-per-sector", "--sectors", "--flash-file", "--flash-initial",
                               "--erase-ms", "--program-ms", "--fault ", "--late-ms", "--fault-seed",
                               "--fault-rate", "--fault-kinds", "--unplug-after-commands",
                               "--unplug-after-bytes", "--replug-after-ms", "--busy ", "--busy-for-ms",
                               "default 1000000", "(default 1;"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(Options, ParsesValuesAndRejectsNonsense) {
    Options o;
    ASSERT_EQ(Parse({"--firmware", "bootloader", "--throughput=0", "--header-fill", "0xA5",
                     "--sectors", "4", "--fault", "drop@2", "--busy", "--flash-initial", "erased"},
                    o),
              "");
    EXPECT_EQ(o.firmware, Options::Firmware::BootLoader);
    EXPECT_DOUBLE_EQ(o.throughput, 0);
    EXPECT_EQ(o.headerFill, 0xA5);
    EXPECT_EQ(o.sectors, 4u);
    EXPECT_TRUE(o.busy);
    EXPECT_FALSE(o.flashInitialOld);
    EXPECT_EQ(o.faults.At(2), vscope::Fault::Drop);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--firmware", "usb"}, {"--sectors", "256"}, {"--sectors", "0"},
          {"--latency-ms", "-1"}, {"--header-fill", "300"}, {"--name", "a/b"}, {"--bogus"},
          {"--log"}, {"--fault", "drop"}, {"--fault-seed", "1", "--fault-kinds", "none"}}) {
        Options x;
        EXPECT_NE(Parse(bad, x), "") << bad[0];
    }
}
