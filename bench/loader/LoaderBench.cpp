// Times whole downloads into the virtual scope at its default link model,
// through the real sequencer on real Qt timers, and checks each flash.
#include "DownloadSequencer.h"
#include "FirmwareImage.h"
#include "LoaderPrompts.h"
#include "LoaderView.h"
#include "QtWindowTimers.h"
#include "ScopeLauncher.h"
#include "ScopeLink.h"
#include "SteadyClock.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

    scopelauncher::ScopeLauncher scope;
    if (const std::string error = scope.Start({"--firmware", "bootloader", "--flash-file", flashPath});
        !error.empty()) {
        std::fprintf(stderr, "loader-bench: %s\n", error.c_str());
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
    // A private bridge folder: only our virtual scope is device 0.
    const scopelauncher::PrivateRuntimeDir runtime("loader-bench");
    if (runtime.path.empty()) {
        std::perror("loader-bench: temporary folder");
        return 2;
    }

    const long long sizes[] = {1048576, FirmwareImage::kFileLimit - 1};
    std::printf("Haldrin download into the virtual scope (default link model, real Qt timers)\n");
    std::printf("%14s %8s %10s %14s  %s\n", "image bytes", "blocks", "seconds", "bytes/s", "flash");
    bool ok = true;
    for (const long long size : sizes) {
        const Result r = TimeDownload(argc, argv, runtime.path, size);
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
    return ok ? 0 : 1;
}
