// Test entry point: every test process gets a private runtime directory, so
// that the virtual bridges of one test are never seen by another.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef SCOPE_TEST_GUI
#include <QApplication>
#endif

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "scope-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 2;
    setenv("XDG_RUNTIME_DIR", pattern.c_str(), 1);
#ifdef SCOPE_TEST_GUI
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#endif
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return result;
}
