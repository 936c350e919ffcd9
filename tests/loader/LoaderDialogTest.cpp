// The loader window on an X display (under xvfb-run): start values, keys, close box, boxes over it, the
// file selection and name field, and a whole download with the desktop told of it over D-Bus.
#include "LoaderDialog.h"
#include "DesktopServices.h"
#include "FinishDialog.h"
#include "LoaderControls.h"
#include "VirtualScopeProcess.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <poll.h>

using namespace loader;
using namespace loader::controls;

// A D-Bus daemon of the test's own (no services to start) as the system bus (logind's) and the session
// bus (the taskbar's), started before the application connects to any; it dies with the test.
struct TestBus {
    TestBus() {
        const QString config = folder.filePath("bus.conf");
        std::ofstream(config.toStdString())
            << "<busconfig><listen>unix:path=" << folder.filePath("socket").toStdString()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            << "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            << "<allow own=\"*\"/></policy></busconfig>\n";
        daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon.start("dbus-daemon",
                     {"--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"});
        if (daemon.waitForReadyRead(10000))
            address = daemon.readLine().trimmed().toStdString();
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    ~TestBus() { daemon.terminate(), daemon.waitForFinished(); }
    QTemporaryDir folder;
    QProcess daemon;
    std::string address; // empty when dbus-daemon did not start
};
const TestBus testBus; // made before main(), so before the application

// logind on the test's bus, answering each Inhibit with a pipe's write end (the read end shows when the
// caller closed it); also records the taskbar's launcher-entry signals as "app progress visible".
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
    ~DesktopStandIn() override { QDBusConnection::disconnectFromBus("stand-in"); }
    // The caller has closed the inhibitor's descriptor of call i.
    bool Released(std::size_t i) const {
        pollfd end{readEnds.at(i).fileDescriptor(), POLLIN, 0};
        return poll(&end, 1, 0) == 1 && (end.revents & POLLHUP);
    }
    QStringList inhibits; // what, who, why and mode of each call, joined by "|"
    std::vector<QDBusUnixFileDescriptor> readEnds;
    QStringList updates;
    QDBusConnection m_bus;

  public slots:
    Q_SCRIPTABLE QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                                 const QString& mode) {
        inhibits << QStringList{what, who, why, mode}.join('|');
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        QDBusUnixFileDescriptor writeEnd;
        readEnds.emplace_back().giveFileDescriptor(ends[0]), writeEnd.giveFileDescriptor(ends[1]);
        return writeEnd;
    }
    void Update(const QString& app, const QVariantMap& entry) {
        updates << app + ' ' + entry["progress"].toString() + ' ' + entry["progress-visible"].toString();
    }
};

struct AnsweringChooser : FileChooser {
    std::optional<std::string> Choose(QWidget*) override {
        if (++openings; auto during = std::exchange(whileOpen, nullptr))
            during();
        return path;
    }
    std::string path;
    int openings = 0;
    std::function<void()> whileOpen;
};

// Start values; Enter does nothing; no second selection on top of one; a long path drawn elided in the
// middle and whole as the tooltip; quitting asked about in a box centred over the window.
TEST(LoaderDialog, StartValuesOneSelectionLongFileNameAndAskingBeforeQuitting) {
    AnsweringChooser chooser; // the file need not exist: its name is shown either way
    chooser.path = "/tmp/firmware images of the workshop/automotive scope/2024 release/SCOPE_FW.BIN";
    LoaderDialog dialog(&chooser);
    EXPECT_EQ(dialog.windowTitle(), "Haldrin  Ver. 1.03");
    QStringList shown;
    for (const int id : {kFileName, kFileSize, kErrorCount, kEstimatedTime, kElapsedTime, kTransferRate,
                         kStatus, kOpenBin, kConnect, kExit}) {
        auto* label = dialog.findChild<QLabel*>(QString::number(id));
        auto* button = dialog.findChild<QPushButton*>(QString::number(id));
        shown << (label ? label->text() : button ? button->text() : "<missing>");
        EXPECT_TRUE(!button || button->isEnabled()) << id;
    }
    EXPECT_EQ(
        shown.join('|').toStdString(),
        "Not Selected|Unknown|  0|00 : 00|00 : 00|0,000 CPS|Not Connected ....... |Open BIN|Connect|Exit");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow(); // no window manager gives the focus under Xvfb
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(dialog.findChild<QPushButton*>(QString::number(kExit)), Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    auto* openBin = dialog.findChild<QPushButton*>(QString::number(kOpenBin));
    chooser.whileOpen = [&] { QTest::mouseClick(openBin, Qt::LeftButton); };
    QTest::mouseClick(openBin, Qt::LeftButton);
    EXPECT_EQ(chooser.openings, 1);
    auto* field = dialog.findChild<QLabel*>(QString::number(kFileName));
    const QString path = QString::fromStdString(chooser.path);
    ASSERT_EQ(field->text(), path);
    const QString elided =
        field->fontMetrics().elidedText(path, Qt::ElideMiddle, field->contentsRect().width());
    ASSERT_NE(elided, path) << "the path fits the field";
    QLabel drawn(elided, &dialog);
    drawn.setAlignment(field->alignment());
    drawn.setGeometry(field->geometry());
    EXPECT_TRUE(field->grab().toImage() == drawn.grab().toImage()) << "not drawn as " << elided.toStdString();
    const QPoint inside = field->rect().center();
    QHelpEvent help(QEvent::ToolTip, inside, field->mapToGlobal(inside));
    QApplication::sendEvent(field, &help);
    EXPECT_EQ(QToolTip::text().toStdString(), chooser.path);
    QToolTip::hideText();
    dialog.move(30, 40);
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
        EXPECT_EQ(std::pair(asked, dialog.isVisible()), std::pair(true, answer == QMessageBox::No));
    }
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// Open BIN's selection offers .BIN files of either case.
TEST(LoaderDialog, FileSelectionOffersBinFilesOfEitherCase) {
    QTemporaryDir folder;
    for (const char* name : {"UPPER.BIN", "lower.bin", "notes.txt"})
        std::ofstream(folder.filePath(name).toStdString());
    QStringList offered;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
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
    EXPECT_EQ(offered, QStringList({"UPPER.BIN", "lower.bin"}));
}

// A download at the default link model (the flash itself the core and scopectl tests check), pictured half
// way for the docs; while the flash is written logind holds the inhibitor and the taskbar shows progress.
TEST(LoaderDialog, DownloadsIntoTheVirtualScopeAndShowsProgress) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    ASSERT_NE(testBus.address, "") << "dbus-daemon did not start (is it installed?)";
    {
        // Without logind on the bus no inhibitor is held, and asking ends quietly.
        appsupport::SleepInhibitor alone("sleep", "Haldrin", "no logind");
        alone.Take();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alone.Asking(); }, 5000));
        EXPECT_FALSE(alone.Held());
    }
    DesktopStandIn desktop;
    QTemporaryDir folder;
    AnsweringChooser chooser;
    chooser.path = folder.filePath("SCOPE_FW.BIN").toStdString();
    std::ofstream(chooser.path) << std::string(600000, 'x');
    testsupport::VirtualScopeProcess scope(
        {"--firmware", "bootloader", "--flash-file", folder.filePath("flash.bin").toStdString()});

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
    EXPECT_EQ(desktop.inhibits.join(", ").toStdString(),
              "sleep:idle|Haldrin|Writing the scope's firmware|block");
    EXPECT_EQ(std::pair(heldHalfWay, releasedAtFinish), std::pair(true, true));
    // The taskbar: 0 to 100 % in whole percents while the flash is written, then hidden.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return desktop.updates.size() > 1 && desktop.updates.last().endsWith("false"); }));
    const std::string entry = "application://org.automotivescope.Haldrin.desktop";
    EXPECT_EQ(desktop.updates.first().toStdString(), entry + " 0 true");
    EXPECT_EQ(desktop.updates.end()[-2].toStdString(), entry + " 1 true");
    EXPECT_EQ(desktop.updates.size(), 102);

    ASSERT_TRUE(shot.save(SCOPE_SHOT_DIR "/haldrin-download.png"));
    // The README's picture is refreshed on request only: a test run leaves the checkout alone.
    EXPECT_TRUE(
        !qEnvironmentVariableIsSet("SCOPE_KEEP_SCREENSHOTS") ||
        (QDir().mkpath(SCOPE_DOCS_SHOT_DIR) && shot.save(SCOPE_DOCS_SHOT_DIR "/haldrin-download.png")));
}

#include "LoaderDialogTest.moc"
