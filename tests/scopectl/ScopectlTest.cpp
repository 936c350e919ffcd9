// scopectl end to end against the virtual scope: its pictures against Quorvex's Save, its flash against
// Haldrin's sequencer on Qt timers, its file names, JSON lines and exit codes.
#include "DownloadSequencer.h"
#include "FrameReceiver.h"
#include "ImageSaver.h"
#include "QtWindowTimers.h"
#include "SteadyClock.h"
#include "VirtualScopeProcess.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using testsupport::Field;
using testsupport::VirtualScopeProcess;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ino_t Inode(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// A boot-loader command as the virtual scope logged it (code, address, length), its reply's status and times.
struct Command {
    std::string what, status;
    double sentAt = 0, repliedAt = 0;
};

std::vector<Command> Commands(const VirtualScopeProcess& scope) {
    std::vector<Command> commands;
    for (const std::string& line : scope.LogLines()) {
        const double t = std::stod(Field(line, "t"));
        if (Field(line, "ev") == "cmd")
            commands.push_back(
                {Field(line, "code") + " " + Field(line, "addr") + " " + Field(line, "len"), "", t});
        else if (Field(line, "ev") == "reply" && !commands.empty())
            commands.back().status = Field(line, "status"), commands.back().repliedAt = t;
    }
    return commands;
}

struct Outcome {
    int status = -1; // the exit code; -1 when scopectl crashed
    std::string out, err;
};

// Each test in a folder of its own, where scopectl runs with standard input /dev/null.
class ScopectlTest : public testing::Test {
  protected:
    void Start(QProcess& scopectl, const QStringList& args) {
        scopectl.setWorkingDirectory(m_folder.path());
        scopectl.setStandardInputFile(QProcess::nullDevice());
        scopectl.start(SCOPECTL_PROGRAM, args);
    }
    static Outcome Wait(QProcess& scopectl) {
        EXPECT_TRUE(scopectl.waitForFinished(60000));
        return {scopectl.exitStatus() == QProcess::NormalExit ? scopectl.exitCode() : -1,
                scopectl.readAllStandardOutput().toStdString(),
                scopectl.readAllStandardError().toStdString()};
    }
    Outcome Run(const QStringList& args) {
        QProcess scopectl;
        Start(scopectl, args);
        return Wait(scopectl);
    }
    // Writes image.BIN of length bytes; the flash it should leave: erased values up to the end of block T.
    std::string MakeImage(std::size_t length) {
        std::string image(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            image[i] = static_cast<char>((i * 131) ^ (i >> 9));
        std::ofstream(m_work / "image.BIN", std::ios::binary) << image;
        image.resize((length / loader::FirmwareImage::kBlockSize + 2) * loader::FirmwareImage::kBlockSize,
                     '\xFF');
        return image;
    }

    QTemporaryDir m_folder;
    fs::path m_work = m_folder.path().toStdString();
};

// Quorvex's Save, through its own classes, of the next frame of device 0.
struct QuorvexSave : capture::WindowPort, capture::FileChooserPort, appsupport::Messages {
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

// Quorvex's Save bytes at both zooms, a PNG of the same pixels, names never used twice, no file replaced.
TEST_F(ScopectlTest, CaptureWritesQuorvexsSaveNamesCountUpAndNoFileIsReplacedUnlessForced) {
    VirtualScopeProcess scope({"--picture", "pattern:checker"});
    const std::string quorvex = (m_work / "quorvex.bmp").string();
    for (const int zoom : {1, 2}) {
        QuorvexSave().Save(quorvex, zoom == 2 ? 1 : 0);
        const Outcome run = Run({"capture", "-o", "cli.bmp", "--zoom", QString::number(zoom), "--force"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "cli.bmp\n");
        EXPECT_TRUE(ReadText(m_work / "cli.bmp") == ReadText(quorvex)) << "zoom " << zoom;
    }
    ASSERT_EQ(Run({"capture", "-o", "cli.png", "--zoom", "2"}).status, 0);
    EXPECT_EQ(QImage((m_work / "cli.png").c_str()).convertToFormat(QImage::Format_RGB32),
              QImage(quorvex.c_str()).convertToFormat(QImage::Format_RGB32));

    const Outcome first = Run({"capture", "--count", "3"});
    const Outcome second = Run({"capture", "--count", "2", "--interval", "0.05"});
    ASSERT_EQ(first.status + second.status, 0) << first.err << second.err;
    QStringList names = QString::fromStdString(first.out + second.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(names.size(), 5);
    for (const QString& name : names)
        EXPECT_TRUE(std::regex_match(name.toStdString(), std::regex(R"(scope-\d{8}-\d{6}-\d{3}\.bmp)")))
            << name.toStdString();
    EXPECT_EQ(names.removeDuplicates(), 0) << "a name was used twice";

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
struct Haldrin : loader::LoaderPrompts, loader::LoaderView {
    void Download(const std::string& file) {
        m_file = file;
        loader::ScopeLink link;
        appsupport::SteadyClock clock;
        std::optional<loader::DownloadSequencer> sequencer;
        appsupport::QtWindowTimers timers([&](int id) { sequencer->OnLoaderTimer(id); });
        sequencer.emplace(link, timers, clock, *this, *this);
        sequencer->ResetWindow();
        QTimer::singleShot(60000, &m_loop, &QEventLoop::quit); // a hang: the flash is found unwritten
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

    std::string m_file;
    QEventLoop m_loop;
};

// Haldrin's commands and replies (two failures); the next one 1 ms after a reply, 100 ms after a failure.
TEST_F(ScopectlTest, FlashSendsHaldrinsCommandsWithItsGaps) {
    const std::string expected = MakeImage(70000);
    std::vector<Command> logs[2];
    for (int which = 0; which < 2; ++which) {
        VirtualScopeProcess scope({"--firmware", "bootloader", "--blocks-per-sector", "8", "--fault",
                                   "status@3,5", "--flash-file", (m_work / "flash.bin").string()});
        if (which == 0) {
            Haldrin().Download((m_work / "image.BIN").string());
        } else {
            const Outcome run = Run({"flash", "image.BIN", "--yes"});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_NE(run.out.find("done: 36 blocks"), std::string::npos) << run.out;
        }
        EXPECT_EQ(scope.Stop(), 0);
        EXPECT_TRUE(ReadText(m_work / "flash.bin").starts_with(expected)) << (which ? "scopectl" : "Haldrin");
        fs::remove(m_work / "flash.bin");
        logs[which] = Commands(scope);
    }
    const auto& [haldrin, cli] = logs;
    ASSERT_EQ(cli.size(), haldrin.size());
    ASSERT_GT(cli.size(), 40u);
    std::vector<double> successGaps;
    for (std::size_t i = 0; i < cli.size(); ++i) {
        EXPECT_EQ(cli[i].what + " " + cli[i].status, haldrin[i].what + " " + haldrin[i].status) << i;
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

// Exit code and message: 2 usage, 3 no scope (none or a busy one), 1 a halted download, 0 version and help.
TEST_F(ScopectlTest, ExitCodesAndMessages) {
    MakeImage(9000);
    std::ofstream(m_work / "huge.BIN").close();
    fs::resize_file(m_work / "huge.BIN", loader::FirmwareImage::kFileLimit);
    const std::vector<std::tuple<QStringList, int, std::string>> withoutScope{
        {{"capture", "--zoom", "3"}, 2, "invalid value '3' for --zoom"},
        {{"unplug"}, 2, "unknown command"},
        {{"flash"}, 2, "no firmware file"},
        {{"flash", "missing.BIN", "--yes"}, 2, "No such file"},
        {{"flash", "huge.BIN", "--yes"}, 2, "too large for the scope's image buffer"},
        {{"capture", "-o", "."}, 2, "is a folder"},
        {{"flash", "image.BIN"}, 2, "add --yes"},
        {{"list"}, 3, "no scope found"},
        {{"capture"}, 3, "no scope found"},
        {{"flash", "image.BIN", "--yes", "--wait", "0.3"}, 3, "no bridge numbered 0 is attached"},
        {{"--version"}, 0, ""},
        {{"flash", "--help"}, 0, ""},
    };
    for (const auto& [args, status, says] : withoutScope) {
        const Outcome run = Run(args);
        EXPECT_EQ(run.status, status) << args.join(' ').toStdString() << ": " << run.err;
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
    EXPECT_NE(Run({"capture", "--help"}).out.find("130  interrupted"), std::string::npos);

    VirtualScopeProcess busy({"--firmware", "bootloader", "--busy"});
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
    VirtualScopeProcess failing(
        {"--firmware", "bootloader", "--fault", "status@5,6,7,8,9,10,11,12,13,14,15"});
    const Outcome halted = Run({"flash", "image.BIN", "--yes"});
    EXPECT_EQ(halted.status, 1);
    EXPECT_NE(halted.err.find("the download halted: There is Some problem!! Please call to our service team"),
              std::string::npos)
        << halted.err;
}

// JSON lines that parse, the failed step among them; SIGINT after the command on the wire, scope usable.
TEST_F(ScopectlTest, JsonLinesThenInterruptLeavesTheScopeUsable) {
    const std::string expected = MakeImage(400000);
    VirtualScopeProcess scope(
        {"--firmware", "bootloader", "--fault", "status@4", "--flash-file", (m_work / "flash.bin").string()});
    const Outcome listed = Run({"list", "--json"});
    const QJsonObject bridge = QJsonDocument::fromJson(QByteArray::fromStdString(listed.out)).object();
    EXPECT_EQ(bridge["kind"].toString(), "virtual");
    EXPECT_TRUE(bridge["ready"].toBool()) << listed.out;
    const Outcome run = Run({"flash", "image.BIN", "--yes", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const QStringList lines = QString::fromStdString(run.out).split('\n', Qt::SkipEmptyParts);
    int failedSteps = 0;
    for (const QString& line : lines) {
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        if (&line == &lines.back()) {
            EXPECT_EQ(object["outcome"].toString(), "done") << line.toStdString();
            EXPECT_EQ(object["errors"].toInt(), 1);
        } else {
            for (const char* key : {"phase", "sector", "block", "blocks", "errors", "rate"})
                EXPECT_TRUE(object.contains(key)) << key << " in " << line.toStdString();
            failedSteps += object["ok"].toBool() ? 0 : 1;
        }
    }
    EXPECT_EQ(failedSteps, 1);

    const std::size_t sent = scope.WaitForEvents("cmd", 0).size() + 40;
    QProcess flashing;
    Start(flashing, {"flash", "image.BIN", "--yes"});
    ASSERT_GE(scope.WaitForEvents("cmd", sent).size(), sent);
    kill(static_cast<pid_t>(flashing.processId()), SIGINT);
    const Outcome interrupted = Wait(flashing);
    EXPECT_EQ(interrupted.status, 130);
    EXPECT_NE(interrupted.err.find("the flash is partly written"), std::string::npos) << interrupted.err;
    EXPECT_EQ(Field(scope.LogLines().back(), "ev"), "reply") << "the command on the wire was not completed";
    const Outcome again = Run({"flash", "image.BIN", "--yes"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(scope.Stop(), 0);
    EXPECT_TRUE(ReadText(m_work / "flash.bin").starts_with(expected));
}

} // namespace
