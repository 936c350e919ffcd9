// Times whole downloads into the virtual scope at its default link model,
// through the real sequencer on real Qt timers, and checks each flash.
#include "DownloadSequencer.h"
#include "FirmwareImage.h"
#include "LoaderPrompts.h"
#include "LoaderView.h"
#include "QtWindowTimers.h"
#include "ScopeLink.h"
#include "SteadyClock.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace loader;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class QuietView : public LoaderView {
  public:
    void SetText(int, const std::string&) override {}
    void EnableButton(int, bool) override {}
    void SetBarRange(int, int, int) override {}
    void SetBarPosition(int, int) override {}
};

class BenchPrompts : public LoaderPrompts {
  public:
    explicit BenchPrompts(std::string path) : m_path(std::move(path)) {}
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "loader-bench: the download stopped: %s\n", text.c_str());
        failed = true;
        QCoreApplication::exit(1);
    }
    bool AskYesNo(const std::string&) override { return false; }
    FinishChoice RunFinishDialog() override {
        finishedAt = Clock::now();
        return FinishChoice::Finish;
    }
    std::optional<std::string> ChooseFile() override {
        chosenAt = Clock::now();
        return m_path;
    }
    void EndDialog(DialogEnd) override { QCoreApplication::exit(0); }

    Clock::time_point chosenAt, finishedAt;
    bool failed = false;

  private:
    std::string m_path;
};

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Scope {
    pid_t pid = -1;
    bool Start(const std::string& program, const std::string& flash, const fs::path& link) {
        std::vector<std::string> args = {program, "--firmware", "bootloader", "--flash-file", flash};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            return false;
        for (int i = 0; i < 500; ++i) {
            if (fs::exists(link))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    ~Scope() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

struct Result {
    long long bytes = 0;
    double seconds = 0;
    bool flashMatches = false;
    bool completed = false;
};

Result TimeDownload(int argc, char** argv, const fs::path& work, long long length) {
    Result result;
    result.bytes = length;
    const std::string imagePath = (work / ("image-" + std::to_string(length) + ".BIN")).string();
    const std::string flashPath = (work / ("flash-" + std::to_string(length) + ".bin")).string();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(length));
    std::uint32_t state = 12345;
    for (auto& b : image) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), length);

    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "virtual-scope";
    Scope scope;
    const fs::path link = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "virtual-bridges" / "scope0";
    if (!scope.Start(program.string(), flashPath, link)) {
        std::fprintf(stderr, "loader-bench: cannot start %s\n", program.c_str());
        return result;
    }

    QCoreApplication app(argc, argv);
    ScopeLink scopeLink;
    appsupport::SteadyClock clock;
    QuietView view;
    BenchPrompts prompts(imagePath);
    DownloadSequencer* sequencer = nullptr;
    appsupport::QtWindowTimers timers([&](int id) { sequencer->OnLoaderTimer(id); });
    DownloadSequencer seq(scopeLink, timers, clock, view, prompts);
    sequencer = &seq;
    seq.ResetWindow();
    app.exec();
    if (prompts.failed)
        return result;
    result.completed = true;
    result.seconds = std::chrono::duration<double>(prompts.finishedAt - prompts.chosenAt).count();

    const int blocks = static_cast<int>(length / FirmwareImage::kBlockSize) + 2; // blocks 0 .. T
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(blocks) * FirmwareImage::kBlockSize,
                                       FirmwareImage::kInitialFill);
    std::copy(image.begin(), image.end(), expected.begin());
    const std::vector<std::uint8_t> flash = ReadFile(flashPath);
    result.flashMatches =
        flash.size() >= expected.size() && std::equal(expected.begin(), expected.end(), flash.begin());
    return result;
}
} // namespace

int main(int argc, char** argv) {
    std::string pattern = (fs::temp_directory_path() / "loader-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("loader-bench: temporary folder");
        return 2;
    }
    // A private bridge folder: only our virtual scope is device 0.
    setenv("XDG_RUNTIME_DIR", pattern.c_str(), 1);

    const long long sizes[] = {1048576, FirmwareImage::kFileLimit - 1};
    std::printf("Haldrin download into the virtual scope (default link model, real Qt timers)\n");
    std::printf("%14s %8s %10s %14s  %s\n", "image bytes", "blocks", "seconds", "bytes/s", "flash");
    bool ok = true;
    for (const long long size : sizes) {
        const Result r = TimeDownload(argc, argv, pattern, size);
        const int blocks = static_cast<int>(size / FirmwareImage::kBlockSize) + 1;
        if (!r.completed) {
            std::printf("%14lld %8d %10s %14s  %s\n", size, blocks, "-", "-", "download failed");
            ok = false;
            continue;
        }
        std::printf("%14lld %8d %10.2f %14.0f  %s\n", size, blocks, r.seconds, size / r.seconds,
                    r.flashMatches ? "equals image" : "DIFFERS");
        ok = ok && r.flashMatches;
    }
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return ok ? 0 : 1;
}
