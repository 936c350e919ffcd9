// The loader window on an X display (run under xvfb-run): its start values, keys
// and close box, the file selection of Open BIN, and a whole download.
#include "LoaderDialog.h"
#include "FileChooser.h"
#include "FinishDialog.h"
#include "LoaderControls.h"
#include "LoaderQtPrompts.h"
#include "LoaderTestKit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <unistd.h>

using namespace loader;
using namespace loader::controls;

TEST(LoaderDialog, StartValuesAndEnterDoingNothingAndAskingBeforeQuitting) {
    LoaderDialog dialog;
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
    // Answer No to Escape's question and the window stays; Yes to the close box's and it ends.
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        bool asked = false;
        QTimer::singleShot(50, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                asked = box->text() == "Are you sure you want to quit?", box->button(answer)->click();
        });
        if (answer == QMessageBox::No)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
        EXPECT_TRUE(asked);
        EXPECT_EQ(dialog.isVisible(), answer == QMessageBox::No);
    }
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(LoaderDialog, FileSelectionOffersBinFilesOfEitherCase) {
    const QString folder = QDir::temp().filePath(QStringLiteral("haldrin-choose-%1").arg(getpid()));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"UPPER.BIN", "lower.bin", "notes.txt"})
        QFile(QDir(folder).filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
    QStringList offered;
    QString title, filter, typed;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle(), filter = dialog->selectedNameFilter();
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            typed = name->text();
        dialog->setDirectory(folder);
        auto* model = dialog->findChild<QFileSystemModel*>();
        if (!model)
            return dialog->reject(); // not Qt's own dialog: nothing offered, the test fails
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(folder)) >= 2; }));
        const QModelIndex root = model->index(folder);
        for (int row = 0; row < model->rowCount(root); ++row)
            if (model->flags(model->index(row, 0, root)) & Qt::ItemIsEnabled)
                offered << model->fileName(model->index(row, 0, root));
        dialog->reject();
    });
    EXPECT_FALSE(BinFileChooser().Choose(nullptr).has_value());
    offered.sort();
    EXPECT_EQ(title, "Select Bin File");
    EXPECT_EQ(filter, "BIN Files (*.BIN)");
    EXPECT_EQ(typed, "*.BIN");
    EXPECT_EQ(offered, QStringList({"UPPER.BIN", "lower.bin"}));
    QDir(folder).removeRecursively();
}

namespace {
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
} // namespace

// End to end on the X display: an image into the virtual scope at its default link
// model; a picture of the window half way through is kept for the documentation.
TEST(LoaderDialog, DownloadsIntoTheVirtualScopeAndShowsProgress) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    loadertest::TempFolder folder;
    const std::string flash = folder.Path("flash.bin");
    AnsweringChooser chooser;
    chooser.path = folder.Path("SCOPE_FW.BIN");
    const auto image = loadertest::Pattern(600000, 11);
    loadertest::WriteBytes(chooser.path, image);
    testsupport::VirtualScopeProcess scope({"--firmware", "bootloader", "--flash-file", flash});

    LoaderDialog dialog(&chooser);
    QImage shot;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QProgressBar* total = dialog.TotalBar();
        if (shot.isNull() && total->maximum() > 0 && total->value() * 2 >= total->maximum())
            shot = dialog.grab().toImage();
        if (auto* done = dynamic_cast<FinishDialog*>(QApplication::activeModalWidget()))
            done->findChild<QPushButton*>("finish")->click();
    });
    watch.start(10);
    QTimer::singleShot(60000, &dialog, [&] { dialog.done(QDialog::Accepted); }); // a hang, not a timing goal
    EXPECT_EQ(dialog.exec(), QDialog::Rejected) << "only Finish ends the window with Cancel";
    EXPECT_EQ(chooser.openings, 1);
    loadertest::Bytes expected(294 * 2048, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin());
    const auto written = loadertest::ReadBytes(flash);
    ASSERT_GE(written.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin()));

    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral(SCOPE_SHOT_DIR "/haldrin-download.png")));
    // The README's picture is refreshed on request only: a test run leaves the checkout alone.
    if (qEnvironmentVariableIsSet("SCOPE_KEEP_SCREENSHOTS")) {
        QDir().mkpath(QStringLiteral(SCOPE_DOCS_SHOT_DIR));
        EXPECT_TRUE(shot.save(QStringLiteral(SCOPE_DOCS_SHOT_DIR "/haldrin-download.png")));
    }
}

// No second file selection opens on top of one that is open.
TEST(LoaderDialog, PromptsOpenNoSecondSelection) {
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
