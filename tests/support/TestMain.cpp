// Test entry point: every test process gets a private runtime directory, so
// that the virtual bridges of one test are never seen by another.
#include "ScopeLauncher.h"

#include <gtest/gtest.h>

#ifdef SCOPE_TEST_GUI
#include <QApplication>
#endif

int main(int argc, char** argv) {
    const scopelauncher::PrivateRuntimeDir runtime("scope-test");
#ifdef SCOPE_TEST_GUI
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#endif
    testing::InitGoogleTest(&argc, argv);
    return runtime.path.empty() ? 2 : RUN_ALL_TESTS();
}
