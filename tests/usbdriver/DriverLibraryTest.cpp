// The run-time binder against the substitute libraries. That our own library
// exports the ten operations and nothing else is checked on its symbol table.
#include "DriverLibrary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {

using usbdriver::DriverLibrary;

const std::string kBuild = SCOPE_BUILD_DIR;

std::string Substitutes(const std::string& variant) {
    return kBuild + "/substitutes/" + variant;
}

TEST(DriverLibrary, BindsEveryEntryAndMakesNoCallDoingSo) {
    DriverLibrary library;
    ASSERT_TRUE(library.Load("libftd2xx.so", {Substitutes("complete")})) << library.ErrorText();
    EXPECT_TRUE(library.IsLoaded());
    auto calls = reinterpret_cast<unsigned (*)()>(library.Resolve("substitute_call_count"));
    ASSERT_NE(calls, nullptr);
    // The library is never unloaded, so earlier tests in this process count too.
    const unsigned before = calls();
    for (const char* name :
         {"FT_Open", "FT_Close", "FT_ListDevices", "FT_GetQueueStatus", "FT_Write", "FT_Read",
          "FT_ResetDevice", "FT_Purge", "FT_SetTimeouts", "FT_SetUSBParameters"})
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
        DriverLibrary library;
        ASSERT_TRUE(library.Load("libftd2xx.so", {Substitutes("without-" + missing)}));
        EXPECT_EQ(library.Resolve(missing.c_str()), nullptr) << missing;
        EXPECT_EQ(library.ErrorNumber(), 127);
        EXPECT_NE(library.ErrorText().find(missing), std::string::npos) << library.ErrorText();
        EXPECT_NE(library.Resolve("FT_Close"), nullptr);
    }
}

TEST(DriverLibrary, MissingLibraryReportsItsErrnoAndABrokenOneItsPath) {
    DriverLibrary library;
    EXPECT_FALSE(library.Load("libftd2xx-absent.so", {kBuild + "/no-such-folder", Substitutes("complete")}));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.ErrorNumber(), ENOENT);
    EXPECT_FALSE(library.ErrorText().empty());
    EXPECT_EQ(library.Resolve("FT_Open"), nullptr);

    // A file that exists but is no library says more than the later misses.
    const std::string folder = std::getenv("XDG_RUNTIME_DIR"), broken = folder + "/libbroken-driver.so";
    std::ofstream(broken) << "not an ELF file";
    DriverLibrary other;
    EXPECT_FALSE(other.Load("libbroken-driver.so", {folder, kBuild + "/no-such-folder"}));
    EXPECT_NE(other.ErrorText().find(broken), std::string::npos) << other.ErrorText();
    EXPECT_NE(other.ErrorNumber(), 0);
}

TEST(DriverLibrary, SearchesTheFoldersInOrderAndLoadsOnce) {
    DriverLibrary library;
    const std::string first = Substitutes("without-FT_Read");
    ASSERT_TRUE(library.Load("libftd2xx.so", {kBuild + "/no-such-folder", first, Substitutes("complete")}));
    EXPECT_EQ(library.LoadedPath(), first + "/libftd2xx.so");
    EXPECT_TRUE(library.Load("libftd2xx.so", {Substitutes("complete")}));
    EXPECT_EQ(library.LoadedPath(), first + "/libftd2xx.so");
    EXPECT_EQ(library.Resolve("FT_Read"), nullptr);
}

} // namespace
