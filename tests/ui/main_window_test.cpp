#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/about_box.h"
#include "download/download_thread.h"
#include "platform/module_path.h"
#include "res/resource.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

class MainWindow : public UpdaterWindowTest {
protected:
    QPushButton* Exit() { return Dlg().Item<QPushButton>(IDCANCEL); }

    // A download to the simulator under way, at a few per cent.
    void StartSlowDownload(Simulator& controller) {
        OpenWindowAgainst(controller);
        const std::string path = m_folder.Path("firmware.bin");
        WriteBytes(path, PatternedImage(65536, 9));
        ASSERT_TRUE(ClickTab(0));
        TypeInto(Edit(Page2(), IDC_FIRMWARE), path);
        Click(Button(Page2(), IDC_DOWNLOAD));
        auto* bar = Page2().Item<QProgressBar>(IDC_PROGRESS);
        ASSERT_TRUE(WaitUntil([&] { return bar->value() >= 2; }, kRunLimit));
    }
};

using ExitCommand = MainWindow;
using AboutBox = MainWindow;

TEST_F(ExitCommand, WithoutDownloadClosesAtTheFirstTimerTick) {
    OpenWindow();
    QSignalSpy finished(&Dlg(), &QDialog::finished);
    QElapsedTimer clock;
    clock.start();
    Click(Exit());
    EXPECT_TRUE(Dlg().isVisible()) << "not before the timer";
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    EXPECT_GE(clock.elapsed(), 280);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(finished.at(0).at(0).toInt(), IDCANCEL);
    EXPECT_FALSE(Dlg().isVisible());
    EXPECT_FALSE(Page2().HasWindow());
}

TEST_F(ExitCommand, EscapeAndTheCloseButtonRunExitToo) {
    OpenWindow();
    QSignalSpy finished(&Dlg(), &QDialog::finished);
    QTest::keyClick(&Dlg(), Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));

    Dlg().show();
    EXPECT_FALSE(Dlg().close()) << "the close is deferred to the timer";
    EXPECT_TRUE(Dlg().isVisible());
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 2; }));
}

TEST_F(ExitCommand, AfterExitDownloadIsRefused) {
    Simulator controller;
    ASSERT_TRUE(controller.IsRunning());
    OpenWindowAgainst(controller);
    ASSERT_TRUE(ClickTab(0));
    const std::string path = m_folder.Path("firmware.bin");
    WriteBytes(path, PatternedImage(65536, 2));
    TypeInto(Edit(Page2(), IDC_FIRMWARE), path);

    QSignalSpy finished(&Dlg(), &QDialog::finished);
    Click(Exit());
    EXPECT_FALSE(Button(Page2(), IDC_BREAK)->isEnabled());
    // Download stays enabled (the stop-wait finds no run), but a press in the
    // time before the tick starts nothing.
    ASSERT_TRUE(Button(Page2(), IDC_DOWNLOAD)->isEnabled());
    Click(Button(Page2(), IDC_DOWNLOAD));
    EXPECT_EQ(Page2().m_bBusy.load(), 0);
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    RunEventsFor(200ms);
    EXPECT_EQ(controller.Summary().sessions, 0) << "no run was started";
    EXPECT_EQ(m_messages->Count(), 0u);
}

// With real message boxes: the user reads the notice of the stopped run for a
// while (the exit timer ticks meanwhile) and dismisses it with Enter.
TEST_F(ExitCommand, DuringDownloadClosesOnlyAfterTheMessageIsDismissed) {
    Simulator controller({"--delay-ms", "20"});
    ASSERT_TRUE(controller.IsRunning());
    StartSlowDownload(controller);
    m_messages.reset();  // real boxes from here on

    QSignalSpy finished(&Dlg(), &QDialog::finished);
    QElapsedTimer shownFor;
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool closedWhileShown = false;
    ModalUser user([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return false;
        if (!shownFor.isValid()) {
            shownFor.start();
            text = box->text();
            caption = box->windowTitle();
            icon = box->icon();
        }
        closedWhileShown = closedWhileShown || finished.count() != 0 || !Dlg().isVisible();
        if (shownFor.elapsed() < 700) return false;  // two exit ticks at least
        QTest::keyClick(box, Qt::Key_Enter);
        return true;
    });

    Click(Exit());
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }, kRunLimit));
    EXPECT_EQ(user.Handled(), 1);
    EXPECT_EQ(text.toStdString(), download_text::kSendOrStop);
    EXPECT_EQ(caption.toStdString(), platform::ExecutableTitle());
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_FALSE(closedWhileShown);
    EXPECT_EQ(Page2().m_bBusy.load(), 0);
    EXPECT_TRUE(Page2().MayClose());
}

TEST_F(ExitCommand, PressedTwiceDuringDownloadClosesOnce) {
    Simulator controller({"--delay-ms", "20"});
    ASSERT_TRUE(controller.IsRunning());
    StartSlowDownload(controller);
    QSignalSpy finished(&Dlg(), &QDialog::finished);
    Click(Exit());
    Click(Exit());
    ASSERT_TRUE(WaitUntil([&] { return finished.count() >= 1; }, kRunLimit));
    RunEventsFor(700ms);
    EXPECT_EQ(finished.count(), 1);
    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, download_text::kSendOrStop);
    EXPECT_TRUE(Page2().MayClose());
}

// The About item's command, with the low four bits the system may set; any
// other system command (Close here) is left to the system.
TEST_F(AboutBox, SystemCommandOfTheItemOpensItAndOtherCommandsAreLeftToTheSystem) {
    OpenWindow();
    ModalUser user([&](QWidget* modal) {
        if (qobject_cast<CAboutBox*>(modal) == nullptr) return false;
        QTest::keyClick(modal, Qt::Key_Escape);
        return true;
    });
    EXPECT_TRUE(Dlg().OnSysCommand(IDM_ABOUTBOX | 0x2, 0));
    EXPECT_EQ(user.Handled(), 1);
    EXPECT_FALSE(Dlg().OnSysCommand(0xF060, 0));  // SC_CLOSE
    EXPECT_EQ(user.Handled(), 1);
    EXPECT_TRUE(Dlg().isVisible());
}

TEST_F(AboutBox, ContextMenuItemOpensTheAboutBox) {
    OpenWindow();
    if (Dlg().HasSystemMenuItem()) {
        // The item went into the system's own system menu: a right-click
        // offers nothing.
        const QPoint at(10, Dlg().height() - 10);
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, Dlg().mapToGlobal(at));
        QApplication::sendEvent(&Dlg(), &rightClick);
        RunEventsFor(300ms);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        return;
    }
    QString item, caption, okText;
    QStringList texts;
    bool iconShown = false;
    ModalUser user([&](QWidget* modal) {
        auto* about = qobject_cast<CAboutBox*>(modal);
        if (about == nullptr) return false;
        caption = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) texts << label->text();
            iconShown = iconShown || !label->pixmap().isNull();
        }
        auto* ok = about->Item<QPushButton>(IDOK);
        okText = ok->text();
        QTest::mouseClick(ok, Qt::LeftButton);
        return true;
    });
    // The user right-clicks the window below the sheet, picks the item.
    QTimer picker;
    QObject::connect(&picker, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            picker.stop();
            item = menu->actions().value(0)->text();
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        }
    });
    picker.start(20);
    const QPoint at(10, Dlg().height() - 10);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, Dlg().mapToGlobal(at));
    QApplication::sendEvent(&Dlg(), &rightClick);
    ASSERT_TRUE(WaitUntil([&] { return user.Handled() == 1; }));

    EXPECT_EQ(item, QStringLiteral("关于(&A)..."));
    EXPECT_EQ(caption, QStringLiteral("关于"));
    EXPECT_EQ(okText, QStringLiteral("确定"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Vornic _v0.2")));
    EXPECT_TRUE(texts.contains(QStringLiteral("System:Windows 2000/XP/Vista")));
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(Dlg().isVisible()) << "the main window stays";
}

}  // namespace
}  // namespace uitest
