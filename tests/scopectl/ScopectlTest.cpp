// scopectl end to end against the virtual scope: its pictures against
// Quorvex's Save, its flash against Haldrin's sequencer on Qt timers, its file
// names, JSON lines and exit codes.
#include "DownloadSequencer.h"
#include "FrameReceiver.h"
#include "ImageSaver.h"
#include "QtWindowTimers.h"
#include "ScopeLauncher.h"
#include "SteadyClock.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using scopelauncher::Field;
using scopelauncher::ScopeLauncher;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

ino_t Inode(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// scopectl as a child in folder, standard input /dev/null, its output in files.
class Scopectl {
  public:
    Scopectl(const std::vector<std::string>& args, const fs::path& folder)
        : m_out(folder / ".out"), m_err(folder / ".err") {
        m_pid = fork();
        if (m_pid != 0)
            return;
        std::vector<char*> argv{const_cast<char*>(SCOPECTL_PROGRAM)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (chdir(folder.c_str()) != 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(125);
        execv(argv[0], argv.data());
        _exit(126);
    }
    Outcome Wait() {
        Outcome outcome;
        int status = 0;
        waitpid(m_pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = ReadText(m_out);
        outcome.err = ReadText(m_err);
        fs::remove(m_out);
        fs::remove(m_err);
        return outcome;
    }
    pid_t Pid() const { return m_pid; }

  private:
    fs::path m_out, m_err;
    pid_t m_pid = -1;
};

// A boot-loader command as the virtual scope logged it, with the time its reply left.
struct Command {
    std::string code, addr, len, status;
    double sentAt = 0, repliedAt = 0;
};

std::vector<Command> Commands(const ScopeLauncher& scope) {
    std::vector<Command> commands;
    for (const std::string& line : scope.LogLines()) {
        const double t = std::stod(Field(line, "t"));
        if (Field(line, "ev") == "cmd")
            commands.push_back({Field(line, "code"), Field(line, "addr"), Field(line, "len"), "", t, 0});
        else if (Field(line, "ev") == "reply" && !commands.empty())
            commands.back().status = Field(line, "status"), commands.back().repliedAt = t;
    }
    // From the hello that the boot loader answered on.
    const auto answered =
        std::find_if(commands.begin(), commands.end(), [](const Command& c) { return c.status == "B"; });
    return {answered, commands.end()};
}

class ScopectlTest : public testing::Test {
  protected:
    void SetUp() override {
        m_work = fs::path(getenv("XDG_RUNTIME_DIR")) /
                 testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(m_work);
    }
    void TearDown() override { fs::remove_all(m_work); }

    void StartScope(ScopeLauncher& scope, std::vector<std::string> options) {
        ASSERT_EQ(scope.Start(options), "");
    }
    Outcome Run(const std::vector<std::string>& args) { return Scopectl(args, m_work).Wait(); }

    // A firmware file of length bytes, and the flash it should leave: padded
    // with the erased value up to and including block T.
    std::vector<char> MakeImage(const fs::path& path, std::size_t length) {
        std::vector<char> image(length);
        std::uint32_t state = static_cast<std::uint32_t>(length);
        for (char& b : image)
            b = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
        std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(length));
        const std::size_t blocks = length / loader::FirmwareImage::kBlockSize + 2;
        image.resize(blocks * loader::FirmwareImage::kBlockSize, static_cast<char>(0xFF));
        return image;
    }
    bool FlashHolds(const fs::path& flash, const std::vector<char>& expected) {
        const std::string bytes = ReadText(flash);
        return bytes.size() >= expected.size() && std::equal(expected.begin(), expected.end(), bytes.begin());
    }

    fs::path m_work;
};

// Quorvex's Save, through its own classes, of the next frame of device 0.
class QuorvexSave : capture::WindowPort, capture::FileChooserPort, appsupport::Messages {
  public:
    void Save(const std::string& path, int zoomed) {
        static_cast<usbdriver::DriverOperations&>(m_driver) = usbdriver::LinkedDriverOperations();
        ASSERT_EQ(m_driver.m_open(0, &m_state.m_driverHandle), FT_OK);
        m_canvas.CreateCanvas();
        m_receiver.CaptureOnce();
        for (int tick = 0; tick < 5000 && !m_drawn; ++tick, m_clock.Sleep(1))
            m_receiver.ReceiveFrame();
        m_driver.m_close(m_state.m_driverHandle);
        ASSERT_TRUE(m_drawn);
        m_path = path;
        capture::ImageSaver(*this, *this).SaveImage(m_canvas, zoomed);
    }

  private:
    void InvalidateWindow() override { m_drawn = true; }
    std::optional<QString> ChooseSaveFile(const QString&) override { return QString::fromStdString(m_path); }
    void ShowMessage(const std::string& text) override { ADD_FAILURE() << text; }
    bool AskYesNo(const std::string&) override { return false; }

    capture::CaptureState m_state;
    capture::DriverTable m_driver;
    capture::ScreenCanvas m_canvas;
    appsupport::SteadyClock m_clock;
    capture::FrameReceiver m_receiver{m_state, m_driver, m_canvas, *this, m_clock};
    std::string m_path;
    bool m_drawn = false;
};

TEST_F(ScopectlTest, CaptureWritesQuorvexsSaveBytesAtBothZooms) {
    ScopeLauncher scope;
    StartScope(scope, {"--picture", "pattern:checker"});
    for (const int zoom : {1, 2}) {
        const std::string quorvex = (m_work / "quorvex.bmp").string();
        QuorvexSave().Save(quorvex, zoom == 2 ? 1 : 0);
        const Outcome run = Run({"capture", "-o", "cli.bmp", "--zoom", std::to_string(zoom), "--force"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "cli.bmp\n");
        EXPECT_TRUE(ReadText(m_work / "cli.bmp") == ReadText(quorvex)) << "zoom " << zoom;
    }
    // PNG: the same pixels.
    ASSERT_EQ(Run({"capture", "-o", "cli.png", "--zoom", "2"}).status, 0);
    EXPECT_EQ(
        QImage(QString::fromStdString((m_work / "cli.png").string())).convertToFormat(QImage::Format_RGB32),
        QImage(QString::fromStdString((m_work / "quorvex.bmp").string()))
            .convertToFormat(QImage::Format_RGB32));
}

TEST_F(ScopectlTest, NamesCountUpAndNoFileIsReplacedUnlessForced) {
    ScopeLauncher scope;
    StartScope(scope, {"--picture", "pattern:checker"});
    const Outcome first = Run({"capture", "--count", "3"});
    ASSERT_EQ(first.status, 0) << first.err;
    const Outcome second = Run({"capture", "--count", "2", "--interval", "0.05"});
    ASSERT_EQ(second.status, 0) << second.err;
    std::vector<std::string> names = Lines(first.out);
    const std::vector<std::string> later = Lines(second.out);
    ASSERT_EQ(names.size(), 3u);
    std::map<std::string, ino_t> inodes;
    for (const std::string& name : names)
        inodes[name] = Inode(m_work / name);
    names.insert(names.end(), later.begin(), later.end());
    const std::regex pattern(R"(scope-\d{8}-\d{6}-\d{3}\.bmp)");
    for (const std::string& name : names)
        EXPECT_TRUE(std::regex_match(name, pattern)) << name;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end()) << "a name was used twice";
    for (const auto& [name, inode] : inodes)
        EXPECT_EQ(Inode(m_work / name), inode) << name << " was replaced";

    ASSERT_EQ(Run({"capture", "-o", "shot.png", "--count", "2"}).out, "shot-001.png\nshot-002.png\n");
    const ino_t before = Inode(m_work / "shot-002.png");
    const Outcome refused = Run({"capture", "-o", "shot.png", "--count", "2"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("shot-001.png already exists; add --force"), std::string::npos) << refused.err;
    EXPECT_EQ(Inode(m_work / "shot-002.png"), before);
    EXPECT_EQ(Run({"capture", "-o", "shot-002.png", "--force"}).status, 0);
    EXPECT_NE(Inode(m_work / "shot-002.png"), before) << "--force did not replace the file";
}

// Haldrin's sequencer on Haldrin's Qt timers, choosing file once the boot loader answers.
class Haldrin : public loader::LoaderPrompts, public loader::LoaderView {
  public:
    explicit Haldrin(std::string file) : m_file(std::move(file)) {}
    void Download() {
        loader::ScopeLink link;
        appsupport::SteadyClock clock;
        loader::DownloadSequencer* sequencer = nullptr;
        appsupport::QtWindowTimers timers([&](int id) { sequencer->OnLoaderTimer(id); });
        loader::DownloadSequencer seq(link, timers, clock, *this, *this);
        sequencer = &seq;
        seq.ResetWindow();
        QTimer::singleShot(60000, &m_loop, [this] {
            ADD_FAILURE() << "Haldrin's download did not end within 60 s";
            m_loop.exit();
        });
        m_loop.exec();
    }
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    FinishChoice RunFinishDialog() override { return FinishChoice::Finish; }
    std::optional<std::string> ChooseFile() override { return m_file; }
    void EndDialog(DialogEnd) override { m_loop.exit(); }
    void SetText(int, const std::string&) override {}
    void EnableButton(int, bool) override {}
    void SetBarRange(int, int, int) override {}
    void SetBarPosition(int, int) override {}

  private:
    std::string m_file;
    QEventLoop m_loop;
};

TEST_F(ScopectlTest, FlashSendsHaldrinsCommandsWithItsGaps) {
    const std::vector<char> expected = MakeImage(m_work / "image.BIN", 70000);
    const std::vector<std::string> options{"--firmware", "bootloader", "--blocks-per-sector", "8",
                                           "--fault",    "status@3,5", "--flash-file"};
    std::vector<Command> logs[2];
    for (int which = 0; which < 2; ++which) {
        ScopeLauncher scope;
        std::vector<std::string> withFlash = options;
        withFlash.push_back((m_work / "flash.bin").string());
        StartScope(scope, withFlash);
        if (which == 0) {
            Haldrin((m_work / "image.BIN").string()).Download();
        } else {
            const Outcome run = Run({"flash", "image.BIN", "--yes"});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_NE(run.out.find("done: 36 blocks"), std::string::npos) << run.out;
        }
        EXPECT_EQ(scope.Stop(), 0);
        EXPECT_TRUE(FlashHolds(m_work / "flash.bin", expected)) << (which ? "scopectl" : "Haldrin");
        fs::remove(m_work / "flash.bin");
        logs[which] = Commands(scope);
    }
    const std::vector<Command>& haldrin = logs[0];
    const std::vector<Command>& cli = logs[1];
    ASSERT_EQ(cli.size(), haldrin.size());
    ASSERT_GT(cli.size(), 40u);
    std::vector<double> successGaps;
    for (std::size_t i = 0; i < cli.size(); ++i) {
        EXPECT_EQ(cli[i].code + cli[i].addr + cli[i].len, haldrin[i].code + haldrin[i].addr + haldrin[i].len)
            << i;
        EXPECT_EQ(cli[i].status, haldrin[i].status) << i;
        if (i + 1 == cli.size())
            break;
        // From the reply's last byte (logged just after it left) to the next command.
        const double gap = cli[i + 1].sentAt - cli[i].repliedAt;
        const bool failed = cli[i].status != "A" && cli[i].status != "B";
        EXPECT_GE(gap, failed ? 99.5 : 0.9) << "after command " << i << " (" << cli[i].status << ")";
        EXPECT_LT(gap, failed ? 150 : 50) << "after command " << i;
        if (!failed)
            successGaps.push_back(gap);
    }
    std::sort(successGaps.begin(), successGaps.end());
    EXPECT_LT(successGaps[successGaps.size() / 2], 2.5) << "the median step after a success is late";
}

TEST_F(ScopectlTest, ExitCodesAndMessages) {
    MakeImage(m_work / "image.BIN", 9000);
    std::ofstream(m_work / "huge.BIN").close();
    fs::resize_file(m_work / "huge.BIN", loader::FirmwareImage::kFileLimit);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const std::vector<Case> withoutScope{
        {{"capture", "--zoom", "3"}, 2, "invalid value '3' for --zoom"},
        {{"unplug"}, 2, "unknown command"},
        {{"flash"}, 2, "no firmware file"},
        {{"flash", "missing.BIN", "--yes"}, 2, "No such file"},
        {{"flash", "huge.BIN", "--yes"}, 2, "too large for the scope's image buffer"},
        {{"flash", ".", "--yes"}, 2, "is not a regular file"},
        {{"capture", "-o", "."}, 2, "is a folder"},
        {{"flash", "image.BIN"}, 2, "add --yes"},
        {{"list"}, 3, "no scope found"},
        {{"capture"}, 3, "no scope found"},
        {{"flash", "image.BIN", "--yes", "--wait", "0.3"}, 3, "no bridge numbered 0 is attached"},
        {{"--version"}, 0, ""},
        {{"flash", "--help"}, 0, ""},
    };
    for (const Case& c : withoutScope) {
        const Outcome run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << " " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_NE(Run({"capture", "--help"}).out.find("130  interrupted"), std::string::npos);

    ScopeLauncher busy;
    StartScope(busy, {"--firmware", "bootloader", "--busy"});
    const Outcome listed = Run({"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("virtual\tbusy (pid " + std::to_string(busy.Pid()) + " (virtual-scope))"),
              std::string::npos)
        << listed.out;
    EXPECT_EQ(Run({"capture"}).status, 3);
    const Outcome refused = Run({"flash", "image.BIN", "--yes"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("There is some problem in your environment!!"), std::string::npos)
        << refused.err;
    busy.Stop();

    // Eleven failed data steps exhaust the error budget: the window's message.
    ScopeLauncher failing;
    StartScope(failing, {"--firmware", "bootloader", "--fault", "status@5,6,7,8,9,10,11,12,13,14,15"});
    const Outcome halted = Run({"flash", "image.BIN", "--yes"});
    EXPECT_EQ(halted.status, 1);
    EXPECT_NE(halted.err.find("the download halted: There is Some problem!! Please call to our service team"),
              std::string::npos)
        << halted.err;
}

TEST_F(ScopectlTest, JsonLinesParse) {
    MakeImage(m_work / "image.BIN", 20000);
    ScopeLauncher scope;
    StartScope(scope, {"--firmware", "bootloader", "--fault", "status@4"});
    const Outcome listed = Run({"list", "--json"});
    const QJsonObject bridge = QJsonDocument::fromJson(QByteArray::fromStdString(listed.out)).object();
    EXPECT_EQ(bridge["kind"].toString(), "virtual");
    EXPECT_TRUE(bridge["ready"].toBool()) << listed.out;

    const Outcome run = Run({"flash", "image.BIN", "--yes", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GT(lines.size(), 10u);
    int failedSteps = 0;
    for (const std::string& line : lines) {
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        if (&line == &lines.back()) {
            EXPECT_EQ(object["outcome"].toString(), "done") << line;
            EXPECT_EQ(object["errors"].toInt(), 1);
        } else {
            for (const char* key : {"phase", "sector", "block", "blocks", "errors", "rate"})
                EXPECT_TRUE(object.contains(key)) << key << " in " << line;
            failedSteps += object["ok"].toBool() ? 0 : 1;
        }
    }
    EXPECT_EQ(failedSteps, 1);
}

TEST_F(ScopectlTest, InterruptStopsAfterTheCommandAndLeavesTheScopeUsable) {
    const std::vector<char> expected = MakeImage(m_work / "image.BIN", 400000);
    ScopeLauncher scope;
    StartScope(scope, {"--firmware", "bootloader", "--flash-file", (m_work / "flash.bin").string()});
    Scopectl flashing({"flash", "image.BIN", "--yes"}, m_work);
    ASSERT_GE(scope.WaitForEvents("cmd", 40).size(), 40u);
    kill(flashing.Pid(), SIGINT);
    const Outcome interrupted = flashing.Wait();
    EXPECT_EQ(interrupted.status, 130);
    EXPECT_NE(interrupted.err.find("the flash is partly written"), std::string::npos) << interrupted.err;
    const std::vector<std::string> log = scope.LogLines();
    EXPECT_EQ(Field(log.back(), "ev"), "reply") << "the command on the wire was not completed";

    const Outcome again = Run({"flash", "image.BIN", "--yes"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(scope.Stop(), 0);
    EXPECT_TRUE(FlashHolds(m_work / "flash.bin", expected));
}

} // namespace
