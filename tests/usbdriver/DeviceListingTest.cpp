// The device list as the programs see it through FT_ListDevices.
#include "PtyPeer.h"

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

std::string Listed(DWORD index, DWORD what) {
    char text[64] = "untouched";
    const FT_STATUS status =
        FT_ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(index)), text, FT_LIST_BY_INDEX | what);
    return status == FT_OK ? std::string(text) : "status " + std::to_string(status);
}

// Where no change notification can tell, the count follows within a bounded wait.
DWORD CountBecomes(DWORD expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    DWORD count = DeviceCount();
    for (; count != expected && std::chrono::steady_clock::now() < deadline; count = DeviceCount())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return count;
}

TEST(DeviceListing, NameOrderAndCachedCountFollowingLinksAddedAndRemoved) {
    EXPECT_EQ(DeviceCount(), 0u);
    PtyPeer second("scope1"), first("scope0"), third("scope10");
    PtyPeer hidden(".scope2.new-1"); // being made: renamed into place when ready
    // A file that is not a link, and a link to a regular file, are no bridges.
    const std::string notes = PtyPeer::BridgeFolder() + "/notes.txt",
                      plain = PtyPeer::BridgeFolder() + "/plain";
    std::ofstream(notes) << "x";
    ASSERT_EQ(symlink(notes.c_str(), plain.c_str()), 0);

    EXPECT_EQ(DeviceCount(), 3u);
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
    unlink(notes.c_str());
    unlink(plain.c_str());

    // The cached count follows a change at the very next listing, not after some delay.
    {
        PtyPeer fourth("scope2");
        EXPECT_EQ(DeviceCount(), 4u);
    }
    EXPECT_EQ(DeviceCount(), 3u);
    first.Unlink();
    EXPECT_EQ(DeviceCount(), 2u);
    first.Link("scope0");
    EXPECT_EQ(DeviceCount(), 3u);
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
    EXPECT_EQ(DeviceCount(), 1u);
    unlink(dangling.c_str());
    unlink((PtyPeer::BridgeFolder() + "/scope0").c_str());
    unlink(hop.c_str());
}

TEST(DeviceListing, FolderMadeAfterTheFirstListingIsFollowed) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    // A runtime folder without the bridge folder is watched for it to appear;
    // where even the runtime folder is missing, it is looked for now and then.
    for (const bool runtimeExists : {true, false}) {
        const std::string fresh = runtime + (runtimeExists ? "/later" : "/not-yet/runtime");
        if (runtimeExists)
            std::filesystem::create_directories(fresh);
        setenv("XDG_RUNTIME_DIR", fresh.c_str(), 1);
        EXPECT_EQ(DeviceCount(), 0u);
        std::filesystem::create_directories(fresh);
        {
            PtyPeer peer("scope0"); // makes the virtual-bridges folder, then the link
            EXPECT_EQ(runtimeExists ? DeviceCount() : CountBecomes(1u), 1u) << fresh;
            peer.Unlink();
            EXPECT_EQ(runtimeExists ? DeviceCount() : CountBecomes(0u), 0u) << fresh;
        }
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        std::filesystem::remove_all(runtime + (runtimeExists ? "/later" : "/not-yet"));
    }
}

TEST(DeviceListing, UnsetRuntimeDirectoryFallsBackToTheTempFolder) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    PtyPeer inRuntime("scope0");
    EXPECT_EQ(DeviceCount(), 1u);

    // Private temp folder, so bridges of other users of the machine do not count.
    setenv("TMPDIR", runtime.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(PtyPeer::BridgeFolder(), runtime + "/virtual-bridges-" + std::to_string(getuid()));
    EXPECT_EQ(DeviceCount(), 0u);
    {
        PtyPeer fallback("fallback0");
        EXPECT_EQ(DeviceCount(), 1u);
        EXPECT_EQ(Listed(0, FT_OPEN_BY_SERIAL_NUMBER), "fallback0");
    }
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsetenv("TMPDIR");
    EXPECT_EQ(DeviceCount(), 1u);
}

} // namespace
