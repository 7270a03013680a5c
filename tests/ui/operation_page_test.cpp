#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "download/download_thread.h"
#include "platform/pseudo_terminal.h"
#include "platform/thread.h"
#include "res/resource.h"
#include "ui/message_box.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

constexpr std::size_t kImageBytes = 65536;

class OperationPage : public UpdaterWindowTest {
protected:
    QProgressBar* Bar() { return Page2().Item<QProgressBar>(IDC_PROGRESS); }
    QLabel* Percent() { return Page2().Item<QLabel>(IDC_PERCENT); }
    QPushButton* DownloadButton() { return Button(Page2(), IDC_DOWNLOAD); }
    QPushButton* BreakButton() { return Button(Page2(), IDC_BREAK); }
    QPushButton* SetupButton() { return Button(Page1(), IDC_SETUP); }

    std::string WriteImage(const Bytes& bytes) {
        const std::string path = m_folder.Path("firmware.bin");
        WriteBytes(path, bytes);
        return path;
    }

    // Opens the Operation tab, types the path and presses Download.
    void StartDownload(const std::string& path) {
        ASSERT_TRUE(Sheet().GetActiveIndex() == 0 || ClickTab(0));
        TypeInto(Edit(Page2(), IDC_FIRMWARE), path);
        Click(DownloadButton());
    }

    // The run ended with exactly this message and the page is idle again.
    void ExpectEndedIdleWith(const std::string& text, unsigned type) {
        ASSERT_TRUE(m_messages->WaitForCount(1, kRunLimit));
        ASSERT_TRUE(WaitUntilIdle());
        const auto messages = m_messages->Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, text);
        EXPECT_EQ(messages[0].type, type);
        ExpectPageIdle();
    }

    // A whole image through the window: the buttons, the bar and the label
    // along the way, and the image as the controller got it.
    void DownloadWholeImage(Simulator& controller) {
        const Bytes image = PatternedImage(kImageBytes + 1000, 11);
        const std::string path = WriteImage(image);
        OpenWindowAgainst(controller);
        ASSERT_TRUE(ClickTab(0));
        EXPECT_EQ(Percent()->text(), QString()) << "empty before the first run";
        EXPECT_EQ(Bar()->value(), 0);
        EXPECT_FALSE(BreakButton()->isEnabled());

        std::vector<int> positions;
        QObject::connect(Bar(), &QProgressBar::valueChanged, [&](int v) { positions.push_back(v); });
        StartDownload(path);

        ASSERT_TRUE(WaitUntil([&] { return Bar()->value() >= 1; }, kRunLimit));
        EXPECT_FALSE(DownloadButton()->isEnabled());
        EXPECT_TRUE(BreakButton()->isEnabled());
        EXPECT_FALSE(SetupButton()->isEnabled()) << "Setup is disabled during the run";
        EXPECT_EQ(Page2().m_bBusy.load(), 1);

        // Setup during the run is refused, silently.
        const std::string fileBefore = ReadText(ConfigPath());
        Page1().OnSetup();
        EXPECT_EQ(Page1().Item<QLabel>(IDC_BUSY_NOTE)->text(), QStringLiteral("文件下载中请等待!"));
        EXPECT_EQ(m_messages->Count(), 0u);
        EXPECT_EQ(ReadText(ConfigPath()), fileBefore);

        ExpectEndedIdleWith(download_text::kSuccess, MB_ICONINFORMATION);
        std::vector<int> expected;
        for (int p = 1; p <= 100; ++p) expected.push_back(p);
        expected.push_back(0);
        EXPECT_EQ(positions, expected);

        const auto received = controller.LastImage();
        ASSERT_TRUE(received.has_value());
        EXPECT_TRUE(std::equal(received->begin(), received->end(), image.begin()))
            << "the controller got other bytes than the first 64 KiB of the file";
    }
};

using WindowDownload = OperationPage;
using BreakCommand = OperationPage;
using DownloadCommand = OperationPage;

TEST_F(WindowDownload, WholeImageOverTcpArrivesByteIdentical) {
    Simulator controller;
    ASSERT_TRUE(controller.IsRunning());
    DownloadWholeImage(controller);
}

TEST_F(WindowDownload, WholeImageOverPseudoTerminalArrivesByteIdentical) {
    // Windows has none (nor Wine): serial lines under Wine are the serial tests' broker's.
    platform::ByteStream probe;
    std::string path, missing;
    if (!platform::OpenPseudoTerminal(&probe, &path, &missing)) GTEST_SKIP() << missing;
    probe.Close();
    Simulator controller({"--serial"});
    ASSERT_TRUE(controller.IsRunning());
    DownloadWholeImage(controller);
}

TEST_F(BreakCommand, StopsTheRunWithSendErrorAndLeavesThePageIdle) {
    Simulator controller({"--delay-ms", "20"});
    ASSERT_TRUE(controller.IsRunning());
    OpenWindowAgainst(controller);
    StartDownload(WriteImage(PatternedImage(kImageBytes, 3)));
    ASSERT_TRUE(WaitUntil([&] { return Bar()->value() >= 2; }, kRunLimit));

    QElapsedTimer clock;
    clock.start();
    Click(BreakButton());
    EXPECT_FALSE(BreakButton()->isEnabled()) << "at once";
    EXPECT_EQ(Page2().m_bReady.load(), 0);

    ASSERT_TRUE(m_messages->WaitForCount(1, kRunLimit));
    EXPECT_GE(clock.elapsed(), 190) << "the first stop request comes 200 ms after Break";
    ExpectEndedIdleWith(download_text::kSendOrStop, MB_ICONEXCLAMATION);
    ASSERT_TRUE(controller.WaitForSessions(1));
    RunEventsFor(300ms);
    EXPECT_EQ(controller.Summary().sessions, 1) << "no second run was started";
    EXPECT_FALSE(controller.Summary().complete);
}

// A stop-wait left from a Break would stop the next run at its first frame.
TEST_F(DownloadCommand, IsRefusedWhileAStopWaitIsUnderWay) {
    Simulator controller;
    ASSERT_TRUE(controller.IsRunning());
    OpenWindowAgainst(controller);
    ASSERT_TRUE(ClickTab(0));
    TypeInto(Edit(Page2(), IDC_FIRMWARE), WriteImage(PatternedImage(kImageBytes, 6)));
    Page2().m_bReady.store(0);  // as a stop-wait still running leaves it
    Click(DownloadButton());
    EXPECT_EQ(Page2().m_bBusy.load(), 0);
    EXPECT_TRUE(DownloadButton()->isEnabled());
    Page2().m_bReady.store(1);
    RunEventsFor(200ms);
    EXPECT_EQ(controller.Summary().sessions, 0);
    EXPECT_EQ(m_messages->Count(), 0u);
}

TEST_F(DownloadCommand, MissingFileShowsReadFirmwareErrorAndStartsNothing) {
    OpenWindow();
    StartDownload(m_folder.Path("nothing-here.bin"));
    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, download_text::kReadError);
    EXPECT_EQ(messages[0].type, MB_ICONEXCLAMATION);
    EXPECT_TRUE(DownloadButton()->isEnabled());
    EXPECT_FALSE(BreakButton()->isEnabled());
    EXPECT_EQ(Page2().m_bBusy.load(), 0);
    EXPECT_EQ(Percent()->text(), QString());
}

TEST_F(DownloadCommand, FolderPassesTheFileTestAndTheWorkerReportsItsOpen) {
    Simulator controller;
    ASSERT_TRUE(controller.IsRunning());
    OpenWindowAgainst(controller);
    const std::string folder = m_folder.Path("a-folder.bin");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    StartDownload(folder);
    ExpectEndedIdleWith("Access to " + folder + " was denied.", MB_ICONEXCLAMATION);
}

TEST_F(DownloadCommand, UnknownTransportFromTheFileFailsToOpenTheChannel) {
    ConfigValues values;
    values.commWay = 2;
    OpenWindowWith(values);
    StartDownload(WriteImage(PatternedImage(kImageBytes, 5)));
    ExpectEndedIdleWith(download_text::kCommInitError, MB_ICONEXCLAMATION);
}

TEST_F(DownloadCommand, LargestComIndexFromTheFileWrapsToNoPortAndFailsToOpen) {
    ConfigValues values;
    values.com = 2147483647;  // COM number 0xFFFF + 1 wraps to 0: no such port
    OpenWindowWith(values);
    StartDownload(WriteImage(PatternedImage(kImageBytes, 6)));
    ExpectEndedIdleWith(download_text::kCommInitError, MB_ICONEXCLAMATION);
}

TEST_F(DownloadCommand, WorkerThatCannotStartLeavesThePageIdle_InjectedThreadStartFailure) {
    OpenWindow();
    const std::string path = WriteImage(PatternedImage(kImageBytes, 4));
    platform::FailNextThreadStarts(1);
    StartDownload(path);
    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, download_text::kUnexpected);
    EXPECT_TRUE(DownloadButton()->isEnabled());
    EXPECT_FALSE(BreakButton()->isEnabled());
    EXPECT_EQ(Page2().m_bBusy.load(), 0);
    EXPECT_TRUE(Page2().MayClose());
}

TEST_F(DownloadCommand, OpenDialogSetsThePathAndCancelKeepsIt) {
    const std::string image = WriteImage(PatternedImage(16, 1));
    OpenWindow();
    ASSERT_TRUE(ClickTab(0));
    QString filter;
    {
        ModalUser user([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr) return false;
            filter = dialog->nameFilters().value(0);
            // The user types the whole path and presses Enter.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name == nullptr) return false;
            name->setText(QString::fromStdString(image));
            QTest::keyClick(name, Qt::Key_Return);
            return !dialog->isVisible();
        });
        Click(Button(Page2(), IDC_OPENFILE));
        EXPECT_EQ(user.Handled(), 1);
    }
    EXPECT_EQ(filter, QStringLiteral("Bin Files(*.bin)"));
    EXPECT_EQ(Edit(Page2(), IDC_FIRMWARE)->text().toStdString(), image);
    EXPECT_EQ(Page2().m_strFirmware, image);

    {
        ModalUser user([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr) return false;
            QTest::keyClick(dialog, Qt::Key_Escape);
            return !dialog->isVisible();
        });
        Click(Button(Page2(), IDC_OPENFILE));
        EXPECT_EQ(user.Handled(), 1);
    }
    EXPECT_EQ(Edit(Page2(), IDC_FIRMWARE)->text().toStdString(), image);
}

}  // namespace
}  // namespace uitest
