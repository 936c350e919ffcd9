#include "BridgeLink.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using vscope::BridgeLink;

TEST(BridgeLink, LinkLeadsToARawPseudoTerminalAndGoesAwayOnUnplug) {
    BridgeLink link("unit");
    ASSERT_EQ(link.Plug(), "");
    char target[256] = {};
    ASSERT_GT(readlink(link.LinkPath().c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(link.SlavePath(), target);

    const int host = open(link.LinkPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(host, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(host, &tio), 0);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);

    // The host may close its side without hanging up the device.
    close(host);
    const std::uint8_t cr = 0x0D;
    EXPECT_EQ(write(link.MasterFd(), &cr, 1), 1);

    link.Unplug();
    struct stat st;
    EXPECT_NE(lstat(link.LinkPath().c_str(), &st), 0);
    EXPECT_FALSE(link.IsPlugged());
}

TEST(BridgeLink, FolderFallsBackToTheTempDirectoryPerUser) {
    const std::string saved = std::getenv("XDG_RUNTIME_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    const char* tmp = std::getenv("TMPDIR");
    const std::string expected =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/virtual-bridges-" + std::to_string(getuid());
    EXPECT_EQ(BridgeLink::Directory(), expected);
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    EXPECT_EQ(BridgeLink::Directory(), saved + "/virtual-bridges");
}
