// scopectl end to end against the virtual scope: its pictures against Quorvex's Save, its flash against
// Haldrin's sequencer on Qt timers, its file names, JSON lines and exit codes.
#include "CaptureRig.h"
#include "DownloadSequencer.h"
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

#include <gmock/gmock.h>

#include <algorithm>
#include <regex>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
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
    std::string out, err;
};

// Each test in a folder of its own, where scopectl runs with standard input /dev/null.
class ScopectlTest : public testing::Test {
  protected:
    // What scopectl wrote once it ended with exit code status (-1: crashed); meanwhile gets its pid first.
    Outcome Run(const QStringList& args, int status = 0, const std::function<void(qint64)>& meanwhile = {}) {
        QProcess process;
        process.setWorkingDirectory(m_folder.path());
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(SCOPECTL_PROGRAM, args);
        if (meanwhile)
            meanwhile(process.processId());
        EXPECT_TRUE(process.waitForFinished(60000));
        Outcome run{process.readAllStandardOutput().toStdString(),
                    process.readAllStandardError().toStdString()};
        EXPECT_EQ(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, status)
            << args.join(' ').toStdString() << ": " << run.err;
        return run;
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

// Quorvex's Save of the next frame: its link on the library bound by name, its receiver and its saver.
void QuorvexSave(const std::string& path, int zoomed) {
    capturetest::CaptureRig quorvex;
    quorvex.receiver.CaptureOnce();
    ASSERT_TRUE(quorvex.TickUntilFrames(1));
    quorvex.savePath = QString::fromStdString(path);
    capture::ImageSaver(quorvex, quorvex).SaveImage(quorvex.canvas, zoomed);
    quorvex.link.CloseLink();
    EXPECT_TRUE(quorvex.shown.isEmpty()) << quorvex.shown.join(' ').toStdString();
}

// Quorvex's Save bytes at both zooms, a PNG of the same pixels, names never used twice, no file replaced.
TEST_F(ScopectlTest, CaptureWritesQuorvexsSaveNamesCountUpAndNoFileIsReplacedUnlessForced) {
    VirtualScopeProcess scope({"--picture", "pattern:checker"});
    const std::string quorvex = (m_work / "quorvex.bmp").string();
    for (const int zoom : {1, 2}) {
        QuorvexSave(quorvex, zoom == 2 ? 1 : 0);
        EXPECT_EQ(Run({"capture", "-o", "cli.bmp", "--zoom", QString::number(zoom), "--force"}).out,
                  "cli.bmp\n");
        EXPECT_TRUE(ReadText(m_work / "cli.bmp") == ReadText(quorvex)) << "zoom " << zoom;
    }
    Run({"capture", "-o", "cli.png", "--zoom", "2"});
    EXPECT_EQ(QImage((m_work / "cli.png").c_str()).convertToFormat(QImage::Format_RGB32),
              QImage(quorvex.c_str()).convertToFormat(QImage::Format_RGB32));

    std::string names = Run({"capture", "--count", "3"}).out;
    names += Run({"capture", "--count", "2", "--interval", "0.05"}).out;
    EXPECT_TRUE(std::regex_match(names, std::regex(R"((scope-\d{8}-\d{6}-\d{3}\.bmp\n){5})"))) << names;
    EXPECT_EQ(QString::fromStdString(names).split('\n').removeDuplicates(), 0) << "a name was used twice";

    ASSERT_EQ(Run({"capture", "-o", "shot.png", "--count", "2"}).out, "shot-001.png\nshot-002.png\n");
    const ino_t before = Inode(m_work / "shot-002.png");
    EXPECT_THAT(Run({"capture", "-o", "shot.png", "--count", "2"}, 2).err,
                HasSubstr("shot-001.png already exists; add --force"));
    EXPECT_EQ(Inode(m_work / "shot-002.png"), before);
    Run({"capture", "-o", "shot-002.png", "--force"});
    EXPECT_NE(Inode(m_work / "shot-002.png"), before) << "--force did not replace the file";
}

// Haldrin's sequencer on Haldrin's Qt timers, choosing file once the boot loader answers.
struct Haldrin : loader::LoaderPrompts, loader::LoaderView {
    void Download(const std::string& file) {
        m_file = file;
        m_sequencer.ResetWindow();
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
    loader::ScopeLink m_link;
    appsupport::SteadyClock m_clock;
    appsupport::QtWindowTimers m_timers{[this](int id) { m_sequencer.OnLoaderTimer(id); }};
    loader::DownloadSequencer m_sequencer{m_link, m_timers, m_clock, *this, *this};
};

// Haldrin's commands and replies (two failures); the next one 1 ms after a reply, 100 ms after a failure.
TEST_F(ScopectlTest, FlashSendsHaldrinsCommandsWithItsGaps) {
    const std::string expected = MakeImage(70000);
    std::vector<Command> logs[2];
    for (int which = 0; which < 2; ++which) {
        VirtualScopeProcess scope({"--firmware", "bootloader", "--blocks-per-sector", "8", "--fault",
                                   "status@3,5", "--flash-file", (m_work / "flash.bin").string()});
        if (which == 0)
            Haldrin().Download((m_work / "image.BIN").string());
        else
            EXPECT_THAT(Run({"flash", "image.BIN", "--yes"}).out, HasSubstr("done: 36 blocks"));
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
        // From the reply's last byte to the next command. The reply is logged just after its last byte
        // left, so a scope held up between the two makes a gap look shorter than it was.
        const double gap = cli[i + 1].sentAt - cli[i].repliedAt;
        const bool failed = cli[i].status != "A" && cli[i].status != "B";
        EXPECT_GE(gap, failed ? 99.5 : 0.5) << "after command " << i << " (" << cli[i].status << ")";
        EXPECT_LT(gap, failed ? 150 : 50) << "after command " << i;
        if (!failed)
            successGaps.push_back(gap);
    }
    std::ranges::sort(successGaps);
    EXPECT_GE(successGaps[successGaps.size() / 10], 0.9) << "steps after a success come early";
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
        {{"flash", "--help"}, 0, ""}};
    for (const auto& [args, status, says] : withoutScope)
        EXPECT_THAT(Run(args, status).err, HasSubstr(says));
    EXPECT_THAT(Run({"capture", "--help"}).out, HasSubstr("130  interrupted"));

    VirtualScopeProcess busy({"--firmware", "bootloader", "--busy"});
    EXPECT_THAT(Run({"list"}).out,
                HasSubstr("virtual\tbusy (pid " + std::to_string(busy.Pid()) + " (virtual-scope))"));
    Run({"capture"}, 3);
    EXPECT_THAT(Run({"flash", "image.BIN", "--yes"}, 3).err,
                HasSubstr("There is some problem in your environment!!"));
    busy.Stop();

    // Eleven failed data steps exhaust the error budget: the window's message.
    VirtualScopeProcess failing(
        {"--firmware", "bootloader", "--fault", "status@5,6,7,8,9,10,11,12,13,14,15"});
    EXPECT_THAT(Run({"flash", "image.BIN", "--yes"}, 1).err,
                HasSubstr("the download halted: There is Some problem!! Please call to our service team"));
}

// JSON lines that parse, the failed step among them; SIGINT after the command on the wire, scope usable.
TEST_F(ScopectlTest, JsonLinesThenInterruptLeavesTheScopeUsable) {
    const std::string expected = MakeImage(400000);
    VirtualScopeProcess scope(
        {"--firmware", "bootloader", "--fault", "status@4", "--flash-file", (m_work / "flash.bin").string()});
    const std::string listed = Run({"list", "--json"}).out;
    const QJsonObject bridge = QJsonDocument::fromJson(QByteArray::fromStdString(listed)).object();
    EXPECT_EQ(bridge["kind"].toString(), "virtual");
    EXPECT_TRUE(bridge["ready"].toBool()) << listed;
    const QStringList lines = QString::fromStdString(Run({"flash", "image.BIN", "--yes", "--json"}).out)
                                  .split('\n', Qt::SkipEmptyParts);
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
    const auto interrupt = [&](qint64 pid) {
        ASSERT_GT(pid, 0) << "scopectl did not start"; // kill(0) would interrupt this test's process group
        ASSERT_GE(scope.WaitForEvents("cmd", sent).size(), sent);
        kill(static_cast<pid_t>(pid), SIGINT);
    };
    EXPECT_THAT(Run({"flash", "image.BIN", "--yes"}, 130, interrupt).err,
                HasSubstr("the flash is partly written"));
    EXPECT_EQ(Field(scope.LogLines().back(), "ev"), "reply") << "the command on the wire was not completed";
    Run({"flash", "image.BIN", "--yes"});
    EXPECT_EQ(scope.Stop(), 0);
    EXPECT_TRUE(ReadText(m_work / "flash.bin").starts_with(expected));
}

} // namespace
