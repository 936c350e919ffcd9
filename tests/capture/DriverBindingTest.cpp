// Binding the driver library by name: the diagnostics on stderr, the message to the
// user, and that a failed binding makes no driver call.
#include "CaptureRig.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

using namespace capturetest;

namespace {

unsigned SubstituteCalls(const std::string& variant) {
    const std::string path = SubstituteDirectory(variant) + "/libftd2xx.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        handle = dlopen(path.c_str(), RTLD_NOW);
    EXPECT_NE(handle, nullptr) << dlerror();
    if (!handle)
        return ~0u;
    auto count = reinterpret_cast<unsigned (*)()>(dlsym(handle, "substitute_call_count"));
    EXPECT_NE(count, nullptr);
    return count ? count() : ~0u;
}

// One line: the text with its error number, e.g. "FT_Open load error : 127".
bool IsDiagnostic(const std::string& output, const std::string& text) {
    const std::string prefix = text + " : ";
    if (output.size() < prefix.size() + 2 || output.compare(0, prefix.size(), prefix) != 0 ||
        output.back() != '\n')
        return false;
    const std::string number = output.substr(prefix.size(), output.size() - prefix.size() - 1);
    return number.find_first_not_of("0123456789") == std::string::npos;
}

struct BindOutcome {
    int opened;
    std::string diagnostics;
};

BindOutcome OpenWith(CaptureRig& rig) {
    testing::internal::CaptureStderr();
    const int opened = rig.Open();
    return {opened, testing::internal::GetCapturedStderr()};
}

} // namespace

TEST(DriverBinding, MissingLibraryIsReportedOnceAndNothingStarts) {
    const std::filesystem::path empty = std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "no-driver";
    std::filesystem::create_directories(empty);
    // A name of its own: the test process has loaded the real library already, and the
    // loader would hand that one out again for the bare name.
    CaptureRig rig(empty.string(), "libftd2xx-absent.so");
    const BindOutcome outcome = OpenWith(rig);
    EXPECT_EQ(outcome.opened, 0);
    EXPECT_TRUE(IsDiagnostic(outcome.diagnostics, "FTD2XX.dll Load Error")) << outcome.diagnostics;
    EXPECT_EQ(rig.messages.shown, QStringList{"USB drivers not installed."});
    EXPECT_FALSE(rig.timers.running);
    EXPECT_FALSE(rig.canvas.IsCreated());
    EXPECT_EQ(rig.state.m_driverHandle, nullptr);
}

TEST(DriverBinding, MissingQueueStatusStopsTheLookUpThere) {
    const unsigned before = SubstituteCalls("without-FT_GetQueueStatus");
    CaptureRig rig(SubstituteDirectory("without-FT_GetQueueStatus"));
    const BindOutcome outcome = OpenWith(rig);
    EXPECT_EQ(outcome.opened, 0);
    EXPECT_TRUE(IsDiagnostic(outcome.diagnostics, "FT_GetQueueStatus load error")) << outcome.diagnostics;
    EXPECT_NE(rig.driver.m_open, nullptr);
    EXPECT_NE(rig.driver.m_listDevices, nullptr);
    EXPECT_EQ(rig.driver.m_write, nullptr); // not looked up after the missing one
    EXPECT_EQ(rig.driver.m_read, nullptr);
    EXPECT_EQ(rig.messages.shown, QStringList{"USB drivers not installed."});
    EXPECT_FALSE(rig.timers.running);
    rig.link.CloseLink();
    EXPECT_EQ(SubstituteCalls("without-FT_GetQueueStatus"), before);
}

TEST(DriverBinding, MissingReadHasItsOwnText) {
    const unsigned before = SubstituteCalls("without-FT_Read");
    CaptureRig rig(SubstituteDirectory("without-FT_Read"));
    const BindOutcome outcome = OpenWith(rig);
    EXPECT_EQ(outcome.opened, 0);
    EXPECT_TRUE(IsDiagnostic(outcome.diagnostics, "FT_ReadAny load error")) << outcome.diagnostics;
    EXPECT_EQ(rig.messages.shown, QStringList{"USB drivers not installed."});
    EXPECT_EQ(SubstituteCalls("without-FT_Read"), before);
}

TEST(DriverBinding, MissingOpenIsTheFirstLookUp) {
    CaptureRig rig(SubstituteDirectory("without-FT_Open"));
    const BindOutcome outcome = OpenWith(rig);
    EXPECT_EQ(outcome.opened, 0);
    EXPECT_TRUE(IsDiagnostic(outcome.diagnostics, "FT_Open load error")) << outcome.diagnostics;
    EXPECT_EQ(rig.driver.m_close, nullptr);
}

TEST(DriverBinding, CompleteLibraryBindsOpensAndStartsTheTimer) {
    const unsigned before = SubstituteCalls("complete");
    CaptureRig rig(SubstituteDirectory("complete"));
    const BindOutcome outcome = OpenWith(rig);
    EXPECT_EQ(outcome.opened, 1);
    EXPECT_EQ(outcome.diagnostics, "");
    EXPECT_TRUE(rig.timers.running);
    EXPECT_EQ(rig.timers.period, 1);
    EXPECT_TRUE(rig.canvas.IsCreated());
    EXPECT_TRUE(rig.messages.shown.isEmpty());
    EXPECT_EQ(SubstituteCalls("complete"), before + 1); // FT_Open only
    // Its device count fails: a failing count leaves the link state alone, so no message.
    rig.Tick();
    rig.Tick();
    EXPECT_TRUE(rig.messages.shown.isEmpty());
    EXPECT_EQ(rig.state.m_disconnected, 0);
}
