// The loader window on an X display (run under xvfb-run): its start values, keys and
// close box, message boxes over it, the file selection of Open BIN, the file name field,
// and a whole download with the desktop told of it over D-Bus.
#include "LoaderDialog.h"
#include "DesktopServices.h"
#include "FileChooser.h"
#include "FinishDialog.h"
#include "LoaderControls.h"
#include "LoaderQtPrompts.h"
#include "VirtualScopeProcess.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace loader;
using namespace loader::controls;

namespace haldrintest {

// A D-Bus daemon of the test's own, with a configuration of its own, started before the
// application connects to any bus: it is the program's system bus (logind's) and its
// session bus (the taskbar's). It dies with the test.
struct TestBus {
    TestBus() {
        if (!mkdtemp(dir.data()))
            return;
        std::ofstream(dir + "/bus.conf")
            << "<busconfig><listen>unix:path=" << dir << "/socket</listen><auth>EXTERNAL</auth>"
            << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        if ((pid = fork()) == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], STDOUT_FILENO);
            execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + dir + "/bus.conf").c_str(), "--nofork",
                   "--nopidfile", "--print-address=1", nullptr);
            _exit(127);
        }
        close(out[1]);
        pollfd ready{out[0], POLLIN, 0};
        char line[512] = {};
        if (pid > 0 && poll(&ready, 1, 10000) == 1 && read(out[0], line, sizeof line - 1) > 0)
            address = std::string(line, strcspn(line, "\n"));
        close(out[0]);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    ~TestBus() {
        if (pid > 0 && kill(pid, SIGTERM) == 0)
            waitpid(pid, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir = (std::filesystem::temp_directory_path() / "haldrin-bus-XXXXXX").string();
    std::string address; // empty when dbus-daemon did not start
    pid_t pid = -1;
};
const TestBus testBus; // made before main(), so before the application

// logind on the test's bus: each Inhibit call is recorded and answered with the write end of
// a pipe, whose read end shows when the caller has closed it. It also records the taskbar's
// launcher-entry signals.
class DesktopStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

  public:
    DesktopStandIn()
        : m_bus(QDBusConnection::connectToBus(QString::fromStdString(testBus.address), "stand-in")) {
        EXPECT_TRUE(
            m_bus.registerObject("/org/freedesktop/login1", this, QDBusConnection::ExportScriptableSlots));
        EXPECT_TRUE(m_bus.registerService("org.freedesktop.login1"));
        EXPECT_TRUE(m_bus.connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update", this,
                                  SLOT(Update(QString, QVariantMap))));
    }
    ~DesktopStandIn() override {
        QDBusConnection::disconnectFromBus("stand-in");
        for (const int end : readEnds)
            close(end);
    }
    // The caller has closed the inhibitor's descriptor of call i.
    bool Released(std::size_t i) const {
        pollfd end{readEnds.at(i), POLLIN, 0};
        return poll(&end, 1, 0) == 1 && (end.revents & POLLHUP);
    }
    QStringList inhibits; // what, who, why and mode of each call, joined by "|"
    std::vector<int> readEnds;
    QList<QPair<double, bool>> updates; // progress, progress-visible
    QStringList updatedApps;

  public slots:
    Q_SCRIPTABLE QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                                 const QString& mode) {
        inhibits << QStringList{what, who, why, mode}.join('|');
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        readEnds.push_back(ends[0]);
        const QDBusUnixFileDescriptor writeEnd(ends[1]); // a copy of its own
        close(ends[1]);
        return writeEnd;
    }
    void Update(const QString& app, const QVariantMap& properties) {
        updatedApps << app;
        updates << qMakePair(properties.value("progress").toDouble(),
                             properties.value("progress-visible").toBool());
    }

  private:
    QDBusConnection m_bus;
};

struct AnsweringChooser : FileChooser {
    std::optional<std::string> Choose(QWidget*) override {
        ++openings;
        if (whileOpen)
            whileOpen();
        return path;
    }
    std::string path;
    int openings = 0;
    std::function<void()> whileOpen;
};

} // namespace haldrintest

using haldrintest::AnsweringChooser;

// The start values; Enter does nothing. A path too long for the file name field is drawn
// elided in the middle, as a label of the elided text would draw it, and shown whole as the
// tooltip; the text stays whole. Quitting is asked about.
TEST(LoaderDialog, StartValuesLongFileNameAndAskingBeforeQuitting) {
    QTemporaryDir folder;
    const std::string dir =
        folder.path().toStdString() + "/firmware images of the workshop/automotive scope/2024 release";
    std::filesystem::create_directories(dir);
    AnsweringChooser chooser;
    chooser.path = dir + "/SCOPE_FW.BIN";
    std::ofstream(chooser.path) << std::string(3000, 'x');
    LoaderDialog dialog(&chooser);
    EXPECT_EQ(dialog.windowTitle(), "Haldrin  Ver. 1.03");
    const std::pair<int, const char*> texts[] = {{kFileName, "Not Selected"},
                                                 {kFileSize, "Unknown"},
                                                 {kErrorCount, "  0"},
                                                 {kEstimatedTime, "00 : 00"},
                                                 {kElapsedTime, "00 : 00"},
                                                 {kTransferRate, "0,000 CPS"},
                                                 {kStatus, "Not Connected ....... "},
                                                 {kOpenBin, "Open BIN"},
                                                 {kConnect, "Connect"},
                                                 {kExit, "Exit"}};
    for (const auto& [id, text] : texts) {
        auto* label = dialog.findChild<QLabel*>(QString::number(id));
        auto* button = dialog.findChild<QPushButton*>(QString::number(id));
        EXPECT_EQ(label ? label->text() : button ? button->text() : "<missing>", text) << id;
        EXPECT_TRUE(!button || button->isEnabled()) << id;
    }
    EXPECT_EQ(dialog.TotalBar()->value() + dialog.SectorBar()->value(), 0);
    EXPECT_TRUE(dialog.Timers().IsActive(1));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow(); // no window manager gives the focus under Xvfb
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(dialog.findChild<QPushButton*>(QString::number(kExit)), Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(dialog.findChild<QPushButton*>(QString::number(kOpenBin)), Qt::LeftButton);
    auto* field = dialog.findChild<QLabel*>(QString::number(kFileName));
    const QString path = QString::fromStdString(chooser.path);
    ASSERT_EQ(field->text(), path);
    const QString elided =
        field->fontMetrics().elidedText(path, Qt::ElideMiddle, field->contentsRect().width());
    EXPECT_TRUE(elided.startsWith(QDir::tempPath()) && elided.endsWith("/SCOPE_FW.BIN") && elided != path)
        << elided.toStdString();
    QLabel drawn(elided, &dialog);
    drawn.setAlignment(field->alignment());
    drawn.setGeometry(field->geometry());
    EXPECT_TRUE(field->grab().toImage() == drawn.grab().toImage()) << "not drawn as " << elided.toStdString();
    const QPoint inside = field->rect().center();
    QHelpEvent help(QEvent::ToolTip, inside, field->mapToGlobal(inside));
    QApplication::sendEvent(field, &help);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text().toStdString(), chooser.path);
    QToolTip::hideText();
    dialog.move(30, 40); // wherever the window is, its boxes open centred over it
    // Answer No to Escape's question and the window stays; Yes to the close box's and it ends.
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        bool asked = false;
        QTimer::singleShot(50, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                const QPoint off = box->frameGeometry().center() - dialog.frameGeometry().center();
                EXPECT_LE(off.manhattanLength(), 2) << off.x() << ", " << off.y();
                asked = box->text() == "Are you sure you want to quit?", box->button(answer)->click();
            }
        });
        answer == QMessageBox::No ? QTest::keyClick(&dialog, Qt::Key_Escape) : void(dialog.close());
        EXPECT_TRUE(asked);
        EXPECT_EQ(dialog.isVisible(), answer == QMessageBox::No);
    }
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// Open BIN's selection offers .BIN files of either case; no second selection opens on top
// of one that is open.
TEST(LoaderDialog, FileSelectionOffersBinFilesOfEitherCaseAndNoSecondOne) {
    QTemporaryDir folder;
    for (const char* name : {"UPPER.BIN", "lower.bin", "notes.txt"})
        QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
    QStringList offered;
    QString title, filter, typed;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle(), filter = dialog->selectedNameFilter();
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            typed = name->text();
        dialog->setDirectory(folder.path());
        auto* model = dialog->findChild<QFileSystemModel*>();
        if (!model)
            return dialog->reject(); // not Qt's own dialog: nothing offered, the test fails
        const QModelIndex root = model->index(folder.path());
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount(root) >= 2; }));
        for (int row = 0; row < model->rowCount(root); ++row)
            if (model->flags(model->index(row, 0, root)) & Qt::ItemIsEnabled)
                offered << model->fileName(model->index(row, 0, root));
        dialog->reject();
    });
    EXPECT_FALSE(BinFileChooser().Choose(nullptr).has_value());
    offered.sort();
    EXPECT_EQ(QStringList({title, filter, typed}),
              QStringList({"Select Bin File", "BIN Files (*.BIN)", "*.BIN"}));
    EXPECT_EQ(offered, QStringList({"UPPER.BIN", "lower.bin"}));

    QDialog window;
    QIcon icon;
    appsupport::QtWindowTimers timers([](int) {});
    AnsweringChooser chooser;
    chooser.path = "first.BIN";
    LoaderQtPrompts prompts(window, icon, timers, chooser);
    std::optional<std::string> inner = "not asked";
    chooser.whileOpen = [&] { inner = prompts.ChooseFile(); };
    EXPECT_EQ(prompts.ChooseFile(), "first.BIN");
    EXPECT_EQ(inner, std::nullopt);
    EXPECT_EQ(chooser.openings, 1);
}

// End to end on the X display: an image into the virtual scope at its default link model; a
// picture of the window half way through is kept for the documentation. While the flash is
// written, logind (a stand-in on the test's bus) holds the window's inhibitor and the taskbar
// entry shows the progress.
TEST(LoaderDialog, DownloadsIntoTheVirtualScopeAndShowsProgress) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    ASSERT_NE(haldrintest::testBus.address, "") << "dbus-daemon did not start (is it installed?)";
    {
        // Without logind on the bus no inhibitor is held, and asking ends quietly.
        appsupport::SleepInhibitor alone("sleep", "Haldrin", "no logind");
        alone.Take();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alone.Asking(); }, 5000));
        EXPECT_FALSE(alone.Held());
    }
    haldrintest::DesktopStandIn desktop;
    QTemporaryDir folder;
    const std::string flash = folder.filePath("flash.bin").toStdString();
    AnsweringChooser chooser;
    chooser.path = folder.filePath("SCOPE_FW.BIN").toStdString();
    std::string image(600000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>((i * 131) ^ (i >> 9));
    std::ofstream(chooser.path, std::ios::binary) << image;
    testsupport::VirtualScopeProcess scope({"--firmware", "bootloader", "--flash-file", flash});

    LoaderDialog dialog(&chooser);
    QImage shot;
    bool heldHalfWay = false, releasedAtFinish = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QProgressBar* total = dialog.TotalBar();
        if (shot.isNull() && total->maximum() > 0 && total->value() * 2 >= total->maximum()) {
            shot = dialog.grab().toImage();
            heldHalfWay = desktop.inhibits.size() == 1 && !desktop.Released(0);
        }
        if (auto* done = dynamic_cast<FinishDialog*>(QApplication::activeModalWidget())) {
            releasedAtFinish = desktop.inhibits.size() == 1 && desktop.Released(0);
            done->findChild<QPushButton*>("finish")->click();
        }
    });
    watch.start(10);
    QTimer::singleShot(60000, &dialog, [&] { dialog.done(QDialog::Accepted); }); // a hang, not a timing goal
    EXPECT_EQ(dialog.exec(), QDialog::Rejected) << "only Finish ends the window with Cancel";
    EXPECT_EQ(chooser.openings, 1);
    std::ifstream in(flash, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(written.substr(0, 294 * 2048) == image + std::string(294 * 2048 - image.size(), '\xFF'))
        << written.size() << " bytes in the flash";

    EXPECT_EQ(desktop.inhibits.join(", ").toStdString(),
              "sleep:idle|Haldrin|Writing the scope's firmware|block");
    EXPECT_TRUE(heldHalfWay);
    EXPECT_TRUE(releasedAtFinish);
    // The taskbar: 0 to 100 % in whole percents while the flash is written, then hidden.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !desktop.updates.isEmpty() && !desktop.updates.last().second; }));
    desktop.updatedApps.removeDuplicates();
    EXPECT_EQ(desktop.updatedApps.join(", ").toStdString(),
              "application://org.automotivescope.Haldrin.desktop");
    EXPECT_EQ(desktop.updates.first(), qMakePair(0.0, true));
    EXPECT_EQ(desktop.updates.end()[-2], qMakePair(1.0, true));
    EXPECT_EQ(desktop.updates.size(), 102);

    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral(SCOPE_SHOT_DIR "/haldrin-download.png")));
    // The README's picture is refreshed on request only: a test run leaves the checkout alone.
    if (qEnvironmentVariableIsSet("SCOPE_KEEP_SCREENSHOTS")) {
        QDir().mkpath(QStringLiteral(SCOPE_DOCS_SHOT_DIR));
        EXPECT_TRUE(shot.save(QStringLiteral(SCOPE_DOCS_SHOT_DIR "/haldrin-download.png")));
    }
}

#include "LoaderDialogTest.moc"
