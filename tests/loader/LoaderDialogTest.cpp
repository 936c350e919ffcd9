// The loader window itself, headless: its start values, keys and close box.
#include "LoaderDialog.h"
#include "LoaderControls.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace controls;

TEST(LoaderDialog, StartValuesAndEnterDoingNothingAndAskingBeforeQuitting) {
    LoaderDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Haldrin  Ver. 1.03");
    const std::pair<int, const char*> texts[] = {
        {kFileName, "Not Selected"}, {kFileSize, "Unknown"}, {kErrorCount, "  0"},
        {kEstimatedTime, "00 : 00"}, {kElapsedTime, "00 : 00"}, {kTransferRate, "0,000 CPS"},
        {kStatus, "Not Connected ....... "}, {kOpenBin, "Open BIN"}, {kConnect, "Connect"}, {kExit, "Exit"}};
    for (const auto& [id, text] : texts) {
        auto* label = dialog.findChild<QLabel*>(QString::number(id));
        auto* button = dialog.findChild<QPushButton*>(QString::number(id));
        EXPECT_EQ(label ? label->text() : button ? button->text() : "<missing>", text) << id;
        EXPECT_TRUE(!button || button->isEnabled()) << id;
    }
    EXPECT_EQ(dialog.TotalBar()->value() + dialog.SectorBar()->value(), 0);
    EXPECT_TRUE(dialog.Timers().IsArmed(1));

    dialog.show();
    QApplication::setActiveWindow(&dialog);
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
