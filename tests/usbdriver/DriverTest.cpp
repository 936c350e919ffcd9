// The driver library over real pseudo-terminals through its C entry points; its inner receive
// queue and USB tty scan; and the run-time binder against the substitute libraries.
#include "DeviceList.h"
#include "DriverLibrary.h"
#include "PtyPeer.h"
#include "ReceiveQueue.h"
#include "UsbTtyScanner.h"

#include <fstream>
#include <numeric>

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::string Listed(uintptr_t index, DWORD what = FT_OPEN_BY_SERIAL_NUMBER) {
    char text[64] = "untouched";
    const FT_STATUS status = FT_ListDevices(reinterpret_cast<PVOID>(index), text, FT_LIST_BY_INDEX | what);
    return status == FT_OK ? std::string(text) : "status " + std::to_string(status);
}

// Where no change notification can tell, the count follows within a bounded wait.
DWORD CountBecomes(DWORD expected) {
    scopelauncher::WaitUntil(2000, [&] { return DeviceCount() == expected; });
    return DeviceCount();
}

// Filled faster than it is drained: far past its first storage, the oldest byte moving all the time.
TEST(ReceiveQueue, GrowsAndKeepsOrderWhileBeingTaken) {
    usbdriver::ReceiveQueue queue;
    uint8_t next = 0, expected = 0;
    std::vector<uint8_t> chunk(5001);
    for (int round = 0; round < 200; ++round) {
        for (int fill = 0; fill < 3; ++fill) {
            size_t space = 0;
            uint8_t* span = queue.FreeSpan(space);
            const size_t n = std::min<size_t>(space, 4321);
            ASSERT_GT(n, 0u);
            std::iota(span, span + n, next);
            queue.Commit(n), next += n;
        }
        ASSERT_EQ(queue.Take(chunk.data(), chunk.size()), chunk.size());
        for (const uint8_t byte : chunk)
            ASSERT_EQ(byte, expected++) << "round " << round;
    }
    EXPECT_GT(queue.Size(), usbdriver::ReceiveQueue::kInitialCapacity);
    chunk.resize(queue.Size() + 10);
    chunk.resize(queue.Take(chunk.data(), chunk.size()));
    for (const uint8_t byte : chunk)
        ASSERT_EQ(byte, expected++);
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(expected, next);
}

// The real bridges after the virtual ones, over a sysfs tree of the test's own.
TEST(UsbTtyScan, ListsBridgeVendorTtysInNaturalOrderAfterTheVirtualBridges) {
    const fs::path root = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "sysfs";
    fs::create_directories(root / "class/tty/tty0"); // a console: no device at all
    fs::create_directories(root / "dev");
    // A tty whose device is the interface of a USB device with that vendor.
    const auto add = [&](const std::string& name, const std::string& vendor, const std::string& product) {
        const fs::path usb = root / "devices/usb1" / ("1-" + name), interface = usb / ("1-" + name + ":1.0");
        fs::create_directories(interface / name);
        std::ofstream(usb / "idVendor") << vendor << "\n";
        std::ofstream(usb / "product") << product << "\n";
        fs::create_directories(root / "class/tty" / name);
        fs::create_directory_symlink(interface, root / "class/tty" / name / "device");
        std::ofstream(root / "dev" / name) << "";
    };
    const usbdriver::UsbTtyScanner scanner((root / "class/tty").string(), (root / "dev").string());
    PtyPeer peer("scope0");
    add("ttyUSB10", "0403", "Scope B");
    add("ttyUSB2", "0403", "Scope A");
    add("ttyACM0", "2341", "Someone else's board");
    add("ttyUSB3", "0403", "Scope C");
    fs::remove(root / "dev/ttyUSB3"); // a bridge whose node is not made yet is not offered

    usbdriver::DeviceList list(scanner, (root / "dev").string());
    ASSERT_EQ(list.Count(), 3u);
    const usbdriver::DeviceEntry first = *list.Entry(1);
    EXPECT_EQ(
        std::tuple(list.Entry(0)->isVirtual, first.isVirtual, first.serial, first.node, first.description,
                   list.Entry(2)->serial, list.Entry(3).has_value()),
        std::tuple(true, false, "ttyUSB2", (root / "dev/ttyUSB2").string(), "Scope A", "ttyUSB10", false));
    // The kernel forgets the unplugged tty and its node goes; the next listing sees it.
    EXPECT_TRUE(scanner.StillValid(first));
    fs::remove_all(root / "class/tty/ttyUSB2");
    EXPECT_FALSE(scanner.StillValid(first));
    fs::remove(root / "dev/ttyUSB2");
    EXPECT_EQ(list.Count(), 2u);
    add("ttyUSB1", "0403", "Scope");
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Entry(1)->serial, "ttyUSB1");
    // A strict order: names equal in value but not in leading zeros sort one way only.
    const auto less = usbdriver::UsbTtyScanner::NaturalLess;
    EXPECT_TRUE(less("ttyACM9", "ttyUSB0") && less("ttyUSB", "ttyUSB0") && !less("ttyUSB1", "ttyUSB1"));
    EXPECT_NE(less("ttyUSB01", "ttyUSB1"), less("ttyUSB1", "ttyUSB01"));
}

// Hidden names, files, links to files and dangling links (also through a hop outside the
// folder, which changes with no event in it) are no bridges.
TEST(DeviceListing, NameOrderAndCountFollowingLinksAddedAndRemoved) {
    EXPECT_EQ(DeviceCount(), 0u);
    PtyPeer second("scope1"), first("scope0"), third("scope10"), hidden(".scope2.new-1"), far("");
    const std::string folder = PtyPeer::BridgeFolder(),
                      hop = std::getenv("XDG_RUNTIME_DIR") + std::string("/hop");
    std::ofstream(folder + "/notes.txt") << "x";
    ASSERT_EQ(symlink((folder + "/notes.txt").c_str(), (folder + "/plain").c_str()), 0);
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", (folder + "/scope00").c_str()), 0);
    EXPECT_EQ(DeviceCount(), 3u);
    EXPECT_EQ(Listed(0) + " " + Listed(1) + " " + Listed(2) + " " + Listed(3),
              "scope0 scope1 scope10 status " + std::to_string(FT_DEVICE_NOT_FOUND));
    EXPECT_EQ(Listed(0, FT_OPEN_BY_DESCRIPTION), "Automotive Scope (virtual)");
    char a[64] = {}, b[64] = {}, *buffers[] = {a, b, nullptr}; // two buffers for three devices
    DWORD total = 0;
    EXPECT_EQ(FT_ListDevices(buffers, &total, FT_LIST_ALL | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
    EXPECT_EQ(std::string(a) + " " + b + " " + std::to_string(total), "scope0 scope1 3");
    // The cached count follows a change in the folder at the very next listing.
    first.Unlink();
    EXPECT_EQ(DeviceCount(), 2u);
    first.Link("scope0");
    EXPECT_EQ(DeviceCount(), 3u);
    ASSERT_EQ(symlink(far.SlavePath().c_str(), hop.c_str()), 0);
    ASSERT_EQ(symlink(hop.c_str(), (folder + "/scope2").c_str()), 0);
    EXPECT_EQ(DeviceCount(), 4u);
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", (hop + ".new").c_str()), 0);
    ASSERT_EQ(rename((hop + ".new").c_str(), hop.c_str()), 0);
    EXPECT_EQ(CountBecomes(3u), 3u); // what is left behind lists nothing
}

// A runtime folder without the bridge folder is watched for it to appear; where even the
// runtime folder is missing, it is looked for now and then. Without XDG_RUNTIME_DIR the
// bridges are in the temp folder (private here, so other users' bridges do not count).
TEST(DeviceListing, FolderMadeLaterOrInTheTempFolderIsFollowed) {
    const std::string home = std::getenv("XDG_RUNTIME_DIR");
    PtyPeer elsewhere("scope0");
    setenv("TMPDIR", home.c_str(), 1);
    fs::create_directories(home + "/later");
    for (const std::string& runtime : {home + "/later", home + "/not-yet/runtime", std::string()}) {
        SCOPED_TRACE(runtime);
        runtime.empty() ? unsetenv("XDG_RUNTIME_DIR") : setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        EXPECT_EQ(DeviceCount(), 0u);
        fs::create_directories(runtime.empty() ? home : runtime);
        const bool polled = runtime.ends_with("/runtime");
        PtyPeer peer("later0"); // makes the bridge folder, then the link
        EXPECT_EQ(polled ? CountBecomes(1u) : DeviceCount(), 1u);
        EXPECT_EQ(Listed(0), "later0");
        peer.Unlink();
        EXPECT_EQ(polled ? CountBecomes(0u) : DeviceCount(), 0u);
    }
    EXPECT_EQ(PtyPeer::BridgeFolder(), home + "/virtual-bridges-" + std::to_string(getuid()));
    setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
    unsetenv("TMPDIR");
    EXPECT_EQ(DeviceCount(), 1u);
}

// Exclusive across programs, even for root (for whom the tty's own exclusive mode does not
// count), naming the holder, until it is closed. The scope holds its slave side open, so a tty
// flag that one open left behind would refuse the next open of a user without privileges.
TEST(DeviceOpen, IsExclusiveNamingTheHolderAndNodeRightsDecideForOthers) {
    ExpectRefused(0, FT_DEVICE_NOT_FOUND, {"no bridge device number 0"});
    PtyPeer peer;
    const int held = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ExpectRefused(1, FT_DEVICE_NOT_FOUND, {"no bridge device number 1", "1 listed"});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ExpectRefused(0, FT_DEVICE_NOT_OPENED, {peer.SlavePath(), "in use by this program"});
    const std::string holder = "in use by pid " + std::to_string(getpid());
    EXPECT_TRUE(InChild(false, [&] { ExpectRefused(0, FT_DEVICE_NOT_OPENED, {peer.SlavePath(), holder}); }));
    ASSERT_EQ(FT_Close(handle), FT_OK);
    ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0666), 0);
    EXPECT_TRUE(InChild(true, [] {
        for (int attempt = 0; attempt < 3; ++attempt) {
            FT_HANDLE handle = nullptr;
            ASSERT_EQ(FT_Open(0, &handle), FT_OK) << "attempt " << attempt;
            ASSERT_EQ(FT_Close(handle), FT_OK);
        }
    }));
    // Who may open it decides the advice: a group that has access, or nobody
    // but root (where only the udev rule helps).
    const gid_t tty = getgrnam("tty")->gr_gid;
    for (const auto& [group, mode, said] :
         {std::tuple<gid_t, mode_t, std::vector<std::string>>{
              0, 0600, {"group 'root'", "mode 0600", "no ordinary user"}},
          {tty, 0600, {"group 'tty'", "no ordinary user"}},
          {tty, 0660, {"group 'tty' with mode 0660: add the user to group 'tty'"}}}) {
        ASSERT_EQ(chown(peer.SlavePath().c_str(), 0, group), 0);
        ASSERT_EQ(chmod(peer.SlavePath().c_str(), mode), 0);
        std::vector<std::string> fragments = {peer.SlavePath() + " ", "permission denied", "user 'root'",
                                              "/usr/lib/udev/rules.d/61-automotive-scope-uaccess.rules"};
        fragments.insert(fragments.end(), said.begin(), said.end());
        EXPECT_TRUE(InChild(true, [&] { ExpectRefused(0, FT_DEVICE_NOT_OPENED, fragments); }));
    }
    close(held);
}

// Bad handles (none, closed, stray pointers) and bad arguments, null buffers even for
// zero lengths, are refused without harm.
TEST(DeviceOpen, BadHandlesAndArgumentsAreRefusedWithoutHarm) {
    OpenedPeer peer;
    const FT_HANDLE closed = peer.handle;
    ASSERT_EQ(FT_Close(closed), FT_OK);
    ASSERT_EQ(FT_Open(0, &peer.handle), FT_OK);
    EXPECT_NE(peer.handle, closed); // a new handle never takes the value of a closed one
    uint8_t byte = 0, text[64];
    DWORD count = 0;
    for (FT_HANDLE h : {FT_HANDLE{nullptr}, closed, FT_HANDLE{text}, reinterpret_cast<FT_HANDLE>(1),
                        reinterpret_cast<FT_HANDLE>(~uintptr_t{0})})
        for (const FT_STATUS status :
             {FT_Close(h), FT_GetQueueStatus(h, &count), FT_Read(h, &byte, 1, &count),
              FT_Write(h, &byte, 1, &count), FT_ResetDevice(h), FT_Purge(h, FT_PURGE_RX),
              FT_SetTimeouts(h, 1, 1), FT_SetUSBParameters(h, 4096, 0)})
            EXPECT_EQ(status, FT_INVALID_HANDLE);
    const FT_HANDLE h = peer.handle;
    // Transfer sizes are multiples of 64 in 64..65536.
    for (const FT_STATUS status :
         {FT_Read(h, nullptr, 0, &count), FT_Write(h, nullptr, 0, &count), FT_Read(h, &byte, 1, nullptr),
          FT_Write(h, &byte, 1, nullptr), FT_GetQueueStatus(h, nullptr), FT_Purge(h, 4), FT_Open(0, nullptr),
          FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY),
          FT_ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
          FT_ListDevices(text, nullptr, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION), FT_ListDevices(text, text, 0),
          FT_SetUSBParameters(h, 0, 0), FT_SetUSBParameters(h, 4000, 0), FT_SetUSBParameters(h, 65600, 0),
          FT_SetUSBParameters(h, 4096, 100)})
        EXPECT_EQ(status, FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, text, FT_LIST_BY_INDEX | 4u), FT_NOT_SUPPORTED);
    ExpectRefused(-1, FT_DEVICE_NOT_FOUND, {"-1"});
    // A zero-length read of a real buffer is fine; 0 leaves the out transfer size as it is.
    EXPECT_EQ(FT_Read(h, &byte, 0, &count), FT_OK);
    EXPECT_EQ(count, 0u);
    for (const auto& [in, out] : {std::pair<ULONG, ULONG>{4096, 0}, {64, 65536}, {65536, 64}})
        EXPECT_EQ(FT_SetUSBParameters(h, in, out), FT_OK) << in << " " << out;
}

// A read or write comes back short only when its time-out expires; purge drops the queue and
// what still waits in the kernel; reset purges too, and forgets the time-outs.
TEST(Transfer, TimeOutsPurgeResetAndQueueStatusCountingEveryByte) {
    OpenedPeer peer;
    ASSERT_EQ(FT_SetTimeouts(peer.handle, 200, 100), FT_OK);
    peer.Send({1, 2, 3});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(peer.handle, 6), (Bytes{1, 2, 3}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(190));
    EXPECT_EQ(Read(peer.handle, 1), Bytes{}); // nothing at all: zero bytes, still no error
    // Nobody reads: what was reported written is exactly what the peer can read.
    Bytes lots(1 << 20, 0x55);
    DWORD written = 0;
    EXPECT_EQ(FT_Write(peer.handle, lots.data(), static_cast<DWORD>(lots.size()), &written), FT_OK);
    EXPECT_TRUE(written > 0 && written < lots.size()) << written;
    EXPECT_EQ(ReadUpTo(peer.Master(), lots.size(), 300).size(), written);

    peer.Send({9, 9, 9, 9});
    EXPECT_EQ(QueuedReaches(peer.handle, 4), 4u);
    peer.Send({8, 8});
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(FT_Purge(peer.handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(Queued(peer.handle), 0u);
    peer.Send({7});
    EXPECT_EQ(Read(peer.handle, 1), Bytes{7});

    peer.Send({1, 2, 3});
    EXPECT_EQ(QueuedReaches(peer.handle, 3), 3u);
    EXPECT_EQ(FT_ResetDevice(peer.handle), FT_OK);
    EXPECT_EQ(Queued(peer.handle), 0u);
    std::jthread first([&] { std::this_thread::sleep_for(milliseconds(250)), peer.Send({0x02, 0x42}); });
    std::jthread second([&] { std::this_thread::sleep_for(milliseconds(500)), peer.Send({0x41, 0, 0, 3}); });
    EXPECT_EQ(Read(peer.handle, 6), (Bytes{0x02, 0x42, 0x41, 0x00, 0x00, 0x03}));
    // Far more than any kernel buffer, never read meanwhile: the count keeps up with what
    // arrived, and every byte can be read back in order.
    constexpr DWORD kTotal = 200000;
    Bytes sent(kTotal); // no chunk of the kernel's looks like the next
    std::ranges::generate(sent, [i = 0]() mutable { return static_cast<uint8_t>(i++ % 251); });
    std::thread scope([&] {
        for (size_t offset = 0; offset < kTotal; offset = peer.Offer(sent, offset)) {
            pollfd item{peer.Master(), POLLOUT, 0};
            poll(&item, 1, 100);
        }
    });
    EXPECT_EQ(QueuedReaches(peer.handle, kTotal), kTotal);
    scope.join();
    EXPECT_TRUE(Read(peer.handle, kTotal) == sent);
    EXPECT_EQ(Queued(peer.handle), 0u);
}

// A device that goes (its link removed, or hung up) ends a blocking read, keeping what
// arrived before. Its handle stays dead though the same pseudo-terminal is linked again,
// and device 0 opens anew beside it: the capture program reopens without closing.
TEST(Transfer, GoneDeviceEndsAReadAndOpensAgainBesideTheDeadHandle) {
    for (const bool hangUp : {false, true}) {
        OpenedPeer peer;
        peer.Send({5, 6});
        EXPECT_EQ(QueuedReaches(peer.handle, 2), 2u);
        std::thread gone([&] {
            std::this_thread::sleep_for(milliseconds(100));
            hangUp ? peer.CloseMaster() : peer.Unlink();
        });
        EXPECT_EQ(Read(peer.handle, 4, FT_IO_ERROR), (Bytes{5, 6})) << hangUp;
        gone.join();
        DWORD queued = 0;
        EXPECT_EQ(FT_GetQueueStatus(peer.handle, &queued), FT_IO_ERROR);
        EXPECT_EQ(Write(peer.handle, {1}), FT_IO_ERROR);
        if (!hangUp) {
            EXPECT_EQ(DeviceCount(), 0u);
            peer.Link("scope0");
            EXPECT_EQ(DeviceCount(), 1u);
            EXPECT_EQ(FT_GetQueueStatus(peer.handle, &queued), FT_IO_ERROR);
            FT_HANDLE again = nullptr;
            ASSERT_EQ(FT_Open(0, &again), FT_OK);
            ASSERT_EQ(FT_SetTimeouts(again, 2000, 1000), FT_OK);
            peer.Send({0x42});
            EXPECT_EQ(Read(again, 1), Bytes{0x42});
            EXPECT_EQ(FT_Close(again), FT_OK);
        }
        EXPECT_EQ(FT_Close(peer.handle), FT_OK);
    }
}

// What the binder loads is checked through Quorvex's binding; here its error numbers and
// search order. That our library exports the ten operations alone is checked on its symbols.
TEST(DriverLibrary, ErrorsSearchOrderAndLoadingOnce) {
    const std::string none = SCOPE_BUILD_DIR "/no-such-folder", subs = SCOPE_BUILD_DIR "/substitutes/";
    usbdriver::DriverLibrary absent, broken, library;
    EXPECT_FALSE(absent.Load("libftd2xx-absent.so", {none, subs + "complete"}));
    EXPECT_EQ(absent.ErrorNumber(), ENOENT);
    EXPECT_FALSE(absent.IsLoaded() || absent.ErrorText().empty() || absent.Resolve("FT_Open"));
    // A file that exists but is no library says more than the later misses.
    const std::string folder = std::getenv("XDG_RUNTIME_DIR");
    std::ofstream(folder + "/libbroken.so") << "not an ELF file";
    EXPECT_FALSE(broken.Load("libbroken.so", {folder, none}));
    EXPECT_NE(broken.ErrorText().find(folder + "/libbroken.so"), std::string::npos) << broken.ErrorText();
    EXPECT_NE(broken.ErrorNumber(), 0);
    ASSERT_TRUE(library.Load("libftd2xx.so", {none, subs + "without-FT_Read", subs + "complete"}));
    EXPECT_TRUE(library.Load("libftd2xx.so", {subs + "complete"}));
    EXPECT_EQ(library.LoadedPath(), subs + "without-FT_Read/libftd2xx.so");
    EXPECT_EQ(library.Resolve("FT_Read"), nullptr);
}

} // namespace
