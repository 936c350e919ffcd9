// The run-time binder's error numbers and search order, against the substitute
// libraries; what it binds is checked through Quorvex's binding. That our own
// library exports the ten operations and nothing else is checked on its
// symbol table.
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
