// The run-time binder against the substitute libraries and our own.
#include "DriverLibrary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

const std::string kBuild = SCOPE_BUILD_DIR;
const char* const kEntries[] = {
    "FT_Open", "FT_Close",       "FT_ListDevices", "FT_GetQueueStatus", "FT_Write",
    "FT_Read", "FT_ResetDevice", "FT_Purge",       "FT_SetTimeouts",    "FT_SetUSBParameters"};

std::string Substitutes(const std::string& variant) {
    return kBuild + "/substitutes/" + variant;
}

TEST(DriverLibrary, BindsEveryEntryAndMakesNoCallDoingSo) {
    usbdriver::DriverLibrary library;
    ASSERT_TRUE(library.Load("libftd2xx.so", {Substitutes("complete")})) << library.ErrorText();
    EXPECT_TRUE(library.IsLoaded());
    auto calls = reinterpret_cast<unsigned (*)()>(library.Resolve("substitute_call_count"));
    ASSERT_NE(calls, nullptr);
    // The library is never unloaded, so earlier tests in this process count too.
    const unsigned before = calls();
    for (const char* name : kEntries)
        EXPECT_NE(library.Resolve(name), nullptr) << name;
    EXPECT_EQ(calls(), before);
    auto list = reinterpret_cast<unsigned (*)(void*, void*, unsigned)>(library.Resolve("FT_ListDevices"));
    unsigned count = 5;
    EXPECT_NE(list(&count, nullptr, 0x80000000u), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(calls(), before + 1);
}

TEST(DriverLibrary, MissingEntryIsNullWithTheLookUpErrorNumber) {
    for (const std::string missing : {"FT_Open", "FT_GetQueueStatus", "FT_Read"}) {
        usbdriver::DriverLibrary library;
        ASSERT_TRUE(library.Load("libftd2xx.so", {Substitutes("without-" + missing)}));
        EXPECT_EQ(library.Resolve(missing.c_str()), nullptr) << missing;
        EXPECT_EQ(library.ErrorNumber(), usbdriver::DriverLibrary::kEntryMissing);
        EXPECT_NE(library.ErrorText().find(missing), std::string::npos) << library.ErrorText();
        EXPECT_NE(library.Resolve("FT_Close"), nullptr);
    }
}

TEST(DriverLibrary, MissingLibraryReportsItsErrno) {
    usbdriver::DriverLibrary library;
    EXPECT_FALSE(library.Load("libftd2xx-absent.so", {kBuild + "/no-such-folder", Substitutes("complete")}));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.ErrorNumber(), ENOENT);
    EXPECT_FALSE(library.ErrorText().empty());
    EXPECT_EQ(library.Resolve("FT_Open"), nullptr);
}

TEST(DriverLibrary, UnloadableFileIsReportedRatherThanLaterMisses) {
    // A file that exists but is no library says more than "not found".
    const std::string folder = std::getenv("XDG_RUNTIME_DIR");
    const std::string broken = folder + "/libbroken-driver.so";
    FILE* file = std::fopen(broken.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("not an ELF file", file);
    std::fclose(file);
    usbdriver::DriverLibrary library;
    EXPECT_FALSE(library.Load("libbroken-driver.so", {folder, kBuild + "/no-such-folder"}));
    EXPECT_NE(library.ErrorText().find(broken), std::string::npos) << library.ErrorText();
    EXPECT_NE(library.ErrorNumber(), 0);
    std::remove(broken.c_str());
}

TEST(DriverLibrary, SearchesTheFoldersInOrder) {
    usbdriver::DriverLibrary library;
    ASSERT_TRUE(library.Load("libftd2xx.so", {kBuild + "/no-such-folder", Substitutes("without-FT_Read"),
                                              Substitutes("complete")}));
    EXPECT_EQ(library.LoadedPath(), Substitutes("without-FT_Read") + "/libftd2xx.so");
    // Loaded once, never again.
    EXPECT_TRUE(library.Load("libftd2xx.so", {Substitutes("complete")}));
    EXPECT_EQ(library.LoadedPath(), Substitutes("without-FT_Read") + "/libftd2xx.so");
}

TEST(DriverLibrary, OurLibraryExportsTheTenOperations) {
    usbdriver::DriverLibrary library;
    ASSERT_TRUE(library.Load("libftd2xx.so", {kBuild + "/bin"})) << library.ErrorText();
    for (const char* name : kEntries)
        EXPECT_NE(library.Resolve(name), nullptr) << name;
    // Inner classes stay inside.
    EXPECT_EQ(library.Resolve("_ZN9usbdriver10DeviceList5CountEv"), nullptr);
}

TEST(DriverLibrary, ProgramDirectoryIsTheFolderOfThisTest) {
    char self[PATH_MAX] = {};
    ASSERT_NE(realpath("/proc/self/exe", self), nullptr);
    const std::string path = self;
    EXPECT_EQ(usbdriver::ProgramDirectory(), path.substr(0, path.rfind('/')));
}

} // namespace
