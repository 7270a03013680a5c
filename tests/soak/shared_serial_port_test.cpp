// Two tools on one serial port: the one that opened it first keeps it and
// runs undisturbed; the second is refused at its open with "Communication
// initialization error!" and touches nothing on the line. The second tool is
// a real second process (vornic-flash) or the window, the first the other.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "download/download_thread.h"
#include "res/resource.h"
#include "support/subprocess.h"
#include "ui/message_box.h"
#include "ui_test_support.h"

namespace soak {
namespace {

using namespace std::chrono_literals;
using support::Subprocess;
using uitest::Bytes;
using uitest::Simulator;

constexpr std::size_t kImageBytes = 65536;
// A whole serial run on a pseudo-terminal, under a sanitizer on a busy machine.
constexpr std::chrono::milliseconds kSerialRunLimit = 240s;

bool SameImage(const sim::Image& received, const Bytes& file) {
    return std::equal(received.begin(), received.end(), file.begin());
}

class SharedSerialPort : public uitest::UpdaterWindowTest {
protected:
    QProgressBar* Bar() { return Page2().Item<QProgressBar>(IDC_PROGRESS); }

    void OpenSerialWindow(const Simulator& controller) {
        OpenWindowAgainst(controller);
        ASSERT_TRUE(ClickTab(0));
    }

    // The second tool, to its end, while this thread keeps the window's
    // event loop running: the window's worker reaches its widgets through it.
    struct Ended {
        std::optional<int> status;
        std::string out;
        std::string err;
    };
    Ended RunFlashToEnd(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
        std::vector<std::string> argv{VORNIC_FLASH_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        Subprocess flash(argv);
        EXPECT_TRUE(flash.Started());
        Ended ended;
        std::atomic<bool> done{false};
        std::thread waiter([&] {
            ended.status = flash.Wait(static_cast<int>(limit.count()));
            done = true;
        });
        uitest::WaitUntil([&] { return done.load(); }, limit + 5s);
        waiter.join();
        ended.out = flash.Stdout();
        ended.err = flash.Stderr();
        return ended;
    }
};

TEST_F(SharedSerialPort, SecondProgramIsRefusedWhileTheWindowDownloadsUndisturbed) {
    Simulator controller({"--serial"});
    ASSERT_TRUE(controller.IsRunning());
    OpenSerialWindow(controller);
    const Bytes image = uitest::PatternedImage(kImageBytes, 21);
    const std::string path = m_folder.Path("first.bin");
    uitest::WriteBytes(path, image);
    const std::string other = m_folder.Path("second.bin");
    uitest::WriteBytes(other, uitest::PatternedImage(kImageBytes, 22));

    std::vector<int> positions;
    QObject::connect(Bar(), &QProgressBar::valueChanged, [&](int v) { positions.push_back(v); });
    TypeInto(Edit(Page2(), IDC_FIRMWARE), path);
    Click(Button(Page2(), IDC_DOWNLOAD));

    // The second tool tries early, half-way and late in the first one's run.
    for (const int percent : {2, 40, 80}) {
        SCOPED_TRACE("second tool at " + std::to_string(percent) + "%");
        ASSERT_TRUE(uitest::WaitUntil([&] { return Bar()->value() >= percent; }, kSerialRunLimit));
        const Ended second = RunFlashToEnd({"--serial", controller.SerialPath(), other}, 30s);
        EXPECT_EQ(second.status, 1);
        EXPECT_EQ(second.err, std::string(download_text::kCommInitError) + "\n");
        EXPECT_EQ(second.out.find(download_text::kSuccess), std::string::npos);
        EXPECT_EQ(Page2().m_bBusy.load(), 1) << "the first run goes on";
    }

    ASSERT_TRUE(m_messages->WaitForCount(1, kSerialRunLimit));
    ASSERT_TRUE(WaitUntilIdle());
    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, download_text::kSuccess);
    EXPECT_EQ(messages[0].type, MB_ICONINFORMATION);
    std::vector<int> expected;
    for (int p = 1; p <= 100; ++p) expected.push_back(p);
    expected.push_back(0);
    EXPECT_EQ(positions, expected) << "the first run went on without a pause or a restart";

    const auto received = controller.LastImage();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(SameImage(*received, image));
    const sim::Summary summary = controller.Summary();
    EXPECT_EQ(summary.frames, 512) << "no frame of the second tool reached the line";
    EXPECT_EQ(summary.bad, 0);
    EXPECT_EQ(summary.images, 1);
}

TEST_F(SharedSerialPort, WindowIsRefusedWhileAProgramDownloadsUndisturbed) {
    Simulator controller({"--serial"});
    ASSERT_TRUE(controller.IsRunning());
    OpenSerialWindow(controller);
    const Bytes image = uitest::PatternedImage(kImageBytes + 100, 31);
    const std::string path = m_folder.Path("first.bin");
    uitest::WriteBytes(path, image);
    const std::string other = m_folder.Path("second.bin");
    uitest::WriteBytes(other, uitest::PatternedImage(kImageBytes, 32));

    std::vector<std::string> argv{VORNIC_FLASH_PATH, "--serial", controller.SerialPath(), path};
    Subprocess first(argv);
    ASSERT_TRUE(first.Started());
    // Its progress lines (standard output is no terminal here) show it is under way.
    for (;;) {
        const auto line = first.ReadLine(static_cast<int>(kSerialRunLimit.count()));
        ASSERT_TRUE(line.has_value()) << "the first tool ended early: " << first.Stderr();
        if (*line == "progress 2%") break;
    }

    // The window, twice: each press ends with the message and the page idle.
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        m_messages->Clear();
        TypeInto(Edit(Page2(), IDC_FIRMWARE), other);
        Click(Button(Page2(), IDC_DOWNLOAD));
        ASSERT_TRUE(m_messages->WaitForCount(1, 30s));
        ASSERT_TRUE(WaitUntilIdle());
        const auto messages = m_messages->Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, download_text::kCommInitError);
        EXPECT_EQ(messages[0].type, MB_ICONEXCLAMATION);
        EXPECT_TRUE(Button(Page2(), IDC_DOWNLOAD)->isEnabled());
        EXPECT_FALSE(Button(Page2(), IDC_BREAK)->isEnabled());
        EXPECT_EQ(Bar()->value(), 0);
        EXPECT_EQ(Page2().Item<QLabel>(IDC_PERCENT)->text(), QStringLiteral("0%"));
    }

    const auto status = first.Wait(static_cast<int>(kSerialRunLimit.count()));
    EXPECT_EQ(status, 0) << first.Stderr();
    EXPECT_NE(first.Stdout().find(std::string(download_text::kSuccess) + "\n"), std::string::npos);
    // Nothing about the port: only the note on the image's tail, which is not sent.
    EXPECT_EQ(first.Stderr(), "vornic-flash: " + path + " is " + std::to_string(image.size()) +
                                  " bytes: only its first 65536 are sent\n");
    const auto received = controller.LastImage();
    ASSERT_TRUE(received.has_value());
    EXPECT_TRUE(SameImage(*received, image));
    const sim::Summary summary = controller.Summary();
    EXPECT_EQ(summary.frames, 512);
    EXPECT_EQ(summary.bad, 0);
}

}  // namespace
}  // namespace soak
