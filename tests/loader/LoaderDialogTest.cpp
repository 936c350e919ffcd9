// The loader window itself, headless: layout 102's texts, identifiers, keys and
// menus, and the two small dialogs.
#include "LoaderDialog.h"
#include "AboutDialog.h"
#include "FinishDialog.h"
#include "LoaderControls.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
QString TextOf(QWidget& dialog, int id) {
    auto* label = dialog.findChild<QLabel*>(QString::number(id));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(id);
}
QPushButton* Button(QWidget& dialog, int id) {
    return dialog.findChild<QPushButton*>(QString::number(id));
}
} // namespace

TEST(LoaderDialog, StartsWithTheResetValues) {
    LoaderDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Haldrin  Ver. 1.03"));
    EXPECT_EQ(TextOf(dialog, controls::kFileName), "Not Selected");
    EXPECT_EQ(TextOf(dialog, controls::kFileSize), "Unknown");
    EXPECT_EQ(TextOf(dialog, controls::kErrorCount), "  0");
    EXPECT_EQ(TextOf(dialog, controls::kEstimatedTime), "00 : 00");
    EXPECT_EQ(TextOf(dialog, controls::kElapsedTime), "00 : 00");
    EXPECT_EQ(TextOf(dialog, controls::kTransferRate), "0,000 CPS");
    EXPECT_EQ(TextOf(dialog, controls::kStatus), "Not Connected ....... ");
    EXPECT_EQ(dialog.TotalBar()->value(), 0);
    EXPECT_EQ(dialog.SectorBar()->value(), 0);
    EXPECT_EQ(dialog.TotalBar()->objectName(), "1018");
    EXPECT_EQ(dialog.SectorBar()->objectName(), "1019");
    ASSERT_NE(Button(dialog, controls::kOpenBin), nullptr);
    EXPECT_EQ(Button(dialog, controls::kOpenBin)->text(), "Open BIN");
    EXPECT_EQ(Button(dialog, controls::kConnect)->text(), "Connect");
    EXPECT_EQ(Button(dialog, controls::kExit)->text(), "Exit");
    EXPECT_TRUE(Button(dialog, controls::kOpenBin)->isEnabled());
    EXPECT_TRUE(Button(dialog, controls::kConnect)->isEnabled());
    EXPECT_TRUE(dialog.Timers().IsArmed(1));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST(LoaderDialog, ExitHasTheFocusAndTabGoesToOpenBinThenConnect) {
    LoaderDialog dialog;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QPushButton* exitButton = Button(dialog, controls::kExit);
    EXPECT_EQ(QApplication::focusWidget(), exitButton);
    const std::vector<QPushButton*> order = {Button(dialog, controls::kOpenBin),
                                             Button(dialog, controls::kConnect), exitButton};
    for (QPushButton* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << expected->text().toStdString();
    }
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
        if (!qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->metaObject()->className();
        }
    }

    // Enter presses nothing and keeps the window open.
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(exitButton, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());

    // Escape asks the quit question; answer No and the window stays.
    bool asked = false;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text() == "Are you sure you want to quit?";
            box->button(QMessageBox::No)->click();
        }
    });
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(dialog.isVisible());

    // The close box asks the same; Yes ends the window.
    asked = false;
    QTimer::singleShot(50, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text() == "Are you sure you want to quit?";
            box->button(QMessageBox::Yes)->click();
        }
    });
    dialog.close();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(LoaderDialog, AboutCommandRuleAndTexts) {
    EXPECT_TRUE(LoaderDialog::IsAboutCommand(16));
    EXPECT_TRUE(LoaderDialog::IsAboutCommand(31));
    EXPECT_FALSE(LoaderDialog::IsAboutCommand(32));
    EXPECT_FALSE(LoaderDialog::IsAboutCommand(0xF060));
    // Identifier 16 from the window's menu opens the about box; others do not.
    LoaderDialog dialog;
    int aboutBoxes = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = dynamic_cast<AboutDialog*>(QApplication::activeModalWidget())) {
            ++aboutBoxes;
            box->accept();
        }
    });
    closer.start(10);
    dialog.OnSysCommand(32);
    dialog.OnSysCommand(16);
    EXPECT_EQ(aboutBoxes, 1);

    AboutDialog about{QIcon()};
    EXPECT_EQ(about.windowTitle(), "Haldrin");
    EXPECT_EQ(about.findChild<QLabel*>("aboutText")->text(), "Autmotive Scope\nHaldrin Version 1.03");
    auto* ok = about.findChild<QPushButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QString::fromUtf8("확인"));
}

TEST(FinishDialog, FinishIsTheDefaultAndEscapeMeansContinue) {
    FinishDialog dialog{QIcon()};
    EXPECT_EQ(dialog.windowTitle(), "Haldrin");
    EXPECT_TRUE(
        dialog.findChild<QLabel*>("finishText")->text().startsWith("Firmware update has been done.\n"));
    auto* finish = dialog.findChild<QPushButton*>("finish");
    EXPECT_TRUE(finish->isDefault());
    QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    QTimer::singleShot(0, [&] { dialog.findChild<QPushButton*>("continue")->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}
