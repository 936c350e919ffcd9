// The device list as the programs see it through FT_ListDevices.
#include "PtyPeer.h"
#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

DWORD Count() {
    DWORD count = 0xDEAD;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return count;
}

std::string Listed(DWORD index, DWORD what) {
    char text[64] = "untouched";
    const FT_STATUS status =
        FT_ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(index)), text, FT_LIST_BY_INDEX | what);
    return status == FT_OK ? std::string(text) : "status " + std::to_string(status);
}

// Waits (bounded, only to catch a hang) until the count becomes the expected one.
DWORD CountBecomes(DWORD expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    DWORD count = Count();
    while (count != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        count = Count();
    }
    return count;
}

TEST(DeviceListing, VirtualBridgesAreListedInNameOrderWithSerialAndDescription) {
    EXPECT_EQ(Count(), 0u);
    PtyPeer second("scope1");
    PtyPeer first("scope0");
    PtyPeer third("scope10");
    PtyPeer hidden(".scope2.new-1"); // being made: renamed into place when ready
    // A file that is not a link, and a link to a regular file, are no bridges.
    std::ofstream(PtyPeer::BridgeFolder() + "/notes.txt") << "x";
    ASSERT_EQ(symlink((PtyPeer::BridgeFolder() + "/notes.txt").c_str(),
                      (PtyPeer::BridgeFolder() + "/plain-file").c_str()),
              0);

    EXPECT_EQ(Count(), 3u);
    EXPECT_EQ(Listed(0, FT_OPEN_BY_SERIAL_NUMBER), "scope0");
    EXPECT_EQ(Listed(1, FT_OPEN_BY_SERIAL_NUMBER), "scope1");
    EXPECT_EQ(Listed(2, FT_OPEN_BY_SERIAL_NUMBER), "scope10");
    EXPECT_EQ(Listed(0, FT_OPEN_BY_DESCRIPTION), "Automotive Scope (virtual)");
    EXPECT_EQ(Listed(3, FT_OPEN_BY_SERIAL_NUMBER), "status " + std::to_string(FT_DEVICE_NOT_FOUND));

    char a[64] = {}, b[64] = {};
    char* buffers[] = {a, b, nullptr};
    DWORD total = 0;
    // Only two buffers are given: the third device's text must not be written.
    EXPECT_EQ(FT_ListDevices(buffers, &total, FT_LIST_ALL | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
    EXPECT_EQ(total, 3u);
    EXPECT_STREQ(a, "scope0");
    EXPECT_STREQ(b, "scope1");
    unlink((PtyPeer::BridgeFolder() + "/notes.txt").c_str());
    unlink((PtyPeer::BridgeFolder() + "/plain-file").c_str());
}

TEST(DeviceListing, CachedCountFollowsLinksAddedAndRemoved) {
    EXPECT_EQ(Count(), 0u);
    PtyPeer peer("scope0");
    // The change is seen by the very next listing, not after some delay.
    EXPECT_EQ(Count(), 1u);
    {
        PtyPeer other("scope1");
        EXPECT_EQ(Count(), 2u);
    }
    EXPECT_EQ(Count(), 1u);
    peer.Unlink();
    EXPECT_EQ(Count(), 0u);
    peer.Link("scope0");
    EXPECT_EQ(Count(), 1u);
}

TEST(DeviceListing, DanglingLinkIsNoDevice) {
    PtyPeer kept("scope1");
    PtyPeer peer("");
    // scope0 reaches the pseudo-terminal through a hop outside the bridge folder, so
    // the test can make it dangle without any event in the folder, and without the
    // race of closing a pseudo-terminal whose number another process may take at once.
    const std::string hop = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/hop";
    ASSERT_EQ(symlink(peer.SlavePath().c_str(), hop.c_str()), 0);
    ASSERT_EQ(symlink(hop.c_str(), (PtyPeer::BridgeFolder() + "/scope0").c_str()), 0);
    EXPECT_EQ(CountBecomes(2u), 2u);
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", (hop + ".new").c_str()), 0);
    ASSERT_EQ(rename((hop + ".new").c_str(), hop.c_str()), 0);
    EXPECT_EQ(CountBecomes(1u), 1u);
    EXPECT_EQ(Listed(0, FT_OPEN_BY_SERIAL_NUMBER), "scope1");

    const std::string dangling = PtyPeer::BridgeFolder() + "/scope00";
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", dangling.c_str()), 0);
    EXPECT_EQ(Count(), 1u);
    unlink(dangling.c_str());
    unlink((PtyPeer::BridgeFolder() + "/scope0").c_str());
    unlink(hop.c_str());
}

TEST(DeviceListing, FolderMadeAfterTheFirstListingIsWatched) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string fresh = runtime + "/later";
    ASSERT_EQ(mkdir(fresh.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", fresh.c_str(), 1);
    EXPECT_EQ(Count(), 0u);
    {
        PtyPeer peer("scope0"); // makes the virtual-bridges folder, then the link
        EXPECT_EQ(Count(), 1u);
    }
    EXPECT_EQ(Count(), 0u);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::filesystem::remove_all(fresh);
}

TEST(DeviceListing, UnsetRuntimeDirectoryFallsBackToTheTempFolder) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    PtyPeer inRuntime("scope0");
    EXPECT_EQ(Count(), 1u);

    // Private temp folder, so bridges of other users of the machine do not count.
    setenv("TMPDIR", runtime.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(PtyPeer::BridgeFolder(), runtime + "/virtual-bridges-" + std::to_string(getuid()));
    EXPECT_EQ(Count(), 0u);
    {
        PtyPeer fallback("fallback0");
        EXPECT_EQ(Count(), 1u);
        EXPECT_EQ(Listed(0, FT_OPEN_BY_SERIAL_NUMBER), "fallback0");
    }
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsetenv("TMPDIR");
    EXPECT_EQ(Count(), 1u);
}

TEST(DeviceListing, RuntimeFolderThatAppearsLaterIsFollowed) {
    // Neither the bridge folder nor its parent exists at first.
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string missing = runtime + "/not-yet/runtime";
    setenv("XDG_RUNTIME_DIR", missing.c_str(), 1);
    EXPECT_EQ(Count(), 0u);
    std::filesystem::create_directories(missing);
    {
        PtyPeer peer("scope0");
        EXPECT_EQ(CountBecomes(1u), 1u);
        peer.Unlink();
        EXPECT_EQ(CountBecomes(0u), 0u);
    }
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::filesystem::remove_all(runtime + "/not-yet");
}

TEST(DeviceListing, RejectsWhatItCannotAnswer) {
    char text[64];
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, text, FT_LIST_BY_INDEX | 4u), FT_NOT_SUPPORTED);
    EXPECT_EQ(FT_ListDevices(text, nullptr, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(text, text, 0), FT_INVALID_PARAMETER);
}

} // namespace
