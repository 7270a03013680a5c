// The soak through the real main window: downloads in a row, Break at random
// moments, and Exit at random moments, each against the controller simulator
// over loopback TCP, with real message boxes that a "user" reads and
// dismisses. Every round ends with exactly one message and the tool idle, and
// the process's descriptors and threads come back to where they were.

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "download/download_thread.h"
#include "platform/module_path.h"
#include "res/resource.h"
#include "soak_support.h"
#include "ui/message_box.h"
#include "ui_test_support.h"

namespace soak {
namespace {

using uitest::Bytes;
using uitest::Simulator;
using Ms = std::chrono::milliseconds;

constexpr std::size_t kImageBytes = 65536;
// A whole run over TCP takes a little more than 5.12 s: Break and Exit
// moments up to 6 s land before, during and after its last frames.
constexpr int kMomentWindowMs = 6000;
// The first stop request comes 200 ms after Break or Exit.
constexpr Ms kStopRequestDelay{190};
// Longer than the watchdog's share of the limit: a round whose user-interface
// thread still runs is reported by the test itself.
constexpr std::chrono::seconds kWatchdogMargin{15};

// A message box as the user saw it.
struct SeenBox {
    std::string text;
    std::string caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Clock::time_point shown;
    Clock::time_point dismissed;
    bool windowClosedWhileShown = false;
};

const char* IconName(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Information: return "information";
    case QMessageBox::Warning: return "exclamation";
    case QMessageBox::Critical: return "error";
    case QMessageBox::Question: return "question";
    default: return "no icon";
    }
}

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

int FailureCount() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// One download of a round: its own image, and the bar's positions.
struct Round {
    int number = 0;
    std::string label;
    std::string path;
    Bytes image;
    std::vector<int> positions;
    QMetaObject::Connection progressWatch;
    Clock::time_point started;
    Clock::time_point ended;  // message dismissed and the tool idle (or closed)
    std::size_t boxesBefore = 0;
    int failuresBefore = 0;

    bool ReachedTheEnd() const {
        return std::find(positions.begin(), positions.end(), 100) != positions.end();
    }
};

class WindowSoak : public uitest::UpdaterWindowTest {
protected:
    void SetUp() override {
        m_messages.reset();  // real boxes, read and dismissed by the user below
        m_user = std::make_unique<uitest::ModalUser>([this](QWidget* modal) { return OnModal(modal); });
    }

    void TearDown() override {
        uitest::UpdaterWindowTest::TearDown();
        m_user.reset();
    }

    QProgressBar* Bar() { return Page2().Item<QProgressBar>(IDC_PROGRESS); }
    QPushButton* DownloadButton() { return Button(Page2(), IDC_DOWNLOAD); }
    QPushButton* BreakButton() { return Button(Page2(), IDC_BREAK); }
    QPushButton* ExitButton() { return Dlg().Item<QPushButton>(IDCANCEL); }

    std::size_t Boxes() const { return m_seen.size(); }
    bool PageIdle() { return Page2().MayClose() && Page2().m_bBusy.load() == 0; }

    // The user reads each box for m_holdFor, then presses Enter.
    bool OnModal(QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            ADD_FAILURE() << "an unexpected modal window: " << modal->metaObject()->className();
            modal->close();
            return true;
        }
        if (!m_current) {
            m_current = SeenBox{box->text().toStdString(), box->windowTitle().toStdString(),
                                box->icon(), Clock::now(), {}, false};
        }
        if (m_windowFinished || (m_dlg && !m_dlg->isVisible())) m_current->windowClosedWhileShown = true;
        if (Clock::now() - m_current->shown < m_holdFor) return false;
        m_current->dismissed = Clock::now();
        m_seen.push_back(*m_current);
        m_current.reset();
        QTest::keyClick(box, Qt::Key_Enter);
        return true;
    }

    void OpenTcpWindow(const Simulator& controller) {
        OpenWindowAgainst(controller);
        ASSERT_TRUE(ClickTab(0));
    }

    // Qt loads the fonts and icons of its first boxes once and keeps them:
    // that is not the tool's to give back.
    void WarmUp() {
        m_holdFor = Ms(0);
        AfxMessageBox("warm-up", MB_ICONINFORMATION);
        AfxMessageBox("warm-up", MB_ICONEXCLAMATION);
        m_seen.clear();
        uitest::RunEventsFor(Ms(100));
    }

    Resources Baseline() {
        uitest::RunEventsFor(Ms(100));
        return support::TakeProcessResources();
    }

    Round PrepareRound(const std::string& phase, int number, std::mt19937& rng) {
        Round round;
        round.number = number;
        round.label = phase + " round " + std::to_string(number) + " of " + std::to_string(Rounds());
        // Images of different lengths: only the first 64 KiB go.
        round.image = uitest::PatternedImage(kImageBytes + static_cast<std::size_t>(Uniform(rng, 0, 4096)),
                                             static_cast<unsigned>(rng()));
        round.path = m_folder.Path("firmware-" + std::to_string(number) + ".bin");
        uitest::WriteBytes(round.path, round.image);
        round.failuresBefore = FailureCount();
        return round;
    }

    // Types the round's path and presses Download: the run starts at once.
    void StartRun(Round& round) {
        TypeInto(Edit(Page2(), IDC_FIRMWARE), round.path);
        round.positions.clear();
        round.progressWatch = QObject::connect(Bar(), &QProgressBar::valueChanged,
                                               [&round](int v) { round.positions.push_back(v); });
        round.boxesBefore = Boxes();
        round.started = Clock::now();
        Click(DownloadButton());
        EXPECT_EQ(Page2().m_bBusy.load(), 1) << "Download did not start a run at once";
        EXPECT_FALSE(DownloadButton()->isEnabled());
    }

    // Waits with the user-interface thread running; a round that does not end
    // ends the process, since its worker may still use the window.
    void WaitForRoundEnd(Round& round, const std::function<bool()>& ended) {
        Watchdog::Arm(round.label, RoundLimit() + kWatchdogMargin);
        if (!uitest::WaitUntil(ended, RoundLimit())) Hang(round.label);
        round.ended = Clock::now();
        Watchdog::Disarm();
        QObject::disconnect(round.progressWatch);
    }

    // The one message of the round.
    std::optional<SeenBox> OneMessage(const Round& round, PhaseTally& tally) {
        const std::size_t count = Boxes() - round.boxesBefore;
        for (std::size_t i = round.boxesBefore; i < Boxes(); ++i)
            tally.Message(m_seen[i].text, IconName(m_seen[i].icon));
        EXPECT_EQ(count, 1u) << "a run ends with exactly one message";
        if (count == 0) return std::nullopt;
        const SeenBox& box = m_seen[round.boxesBefore];
        EXPECT_EQ(box.caption, platform::ExecutableTitle());
        return box;
    }

    void ExpectMessage(const SeenBox& box, const char* text, QMessageBox::Icon icon) {
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, icon) << IconName(box.icon);
    }

    // The simulator wrote the image it got; the first 64 KiB of the file.
    void ExpectImageArrived(const Round& round) {
        const std::string received = uitest::ReadText(ReceivedPath());
        ASSERT_EQ(received.size(), kImageBytes) << "the controller got no whole image";
        EXPECT_TRUE(std::equal(received.begin(), received.end(), round.image.begin(),
                               [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            << "the controller got other bytes than the first 64 KiB of the file";
    }

    // The firmware file is as it was written; then it goes, with whatever the
    // simulator wrote, so that the next round starts from nothing.
    void CleanUpRound(const Round& round) {
        const std::string now = uitest::ReadText(round.path);
        EXPECT_TRUE(now.size() == round.image.size() &&
                    std::equal(now.begin(), now.end(), round.image.begin(),
                               [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            << "the firmware file changed";
        std::error_code ignored;
        std::filesystem::remove(round.path, ignored);
        std::filesystem::remove(ReceivedPath(), ignored);
    }

    void ExpectSettled(const Resources& baseline) {
        EXPECT_TRUE(support::NothingLeftSince(baseline)) << "descriptors or threads left behind";
    }

    void EndRound(const Round& round, PhaseTally& tally, const std::string& outcome) {
        const double seconds = SecondsBetween(round.started, round.ended);
        tally.longestRun = std::max(tally.longestRun, seconds);
        const bool failed = FailureCount() != round.failuresBefore;
        if (failed) ++tally.failedRounds;
        std::printf("soak: %s: %s in %.2f s%s\n", round.label.c_str(), outcome.c_str(), seconds,
                    failed ? " FAILED" : "");
        std::fflush(stdout);
    }

    std::string ReceivedPath() const { return m_folder.Path("received.bin"); }
    std::vector<std::string> SimulatorArgs() const { return {"--image", ReceivedPath()}; }

    std::unique_ptr<uitest::ModalUser> m_user;
    std::vector<SeenBox> m_seen;
    std::optional<SeenBox> m_current;
    Ms m_holdFor{0};
    bool m_windowFinished = false;
};

TEST_F(WindowSoak, DownloadsInARowAllArriveByteIdentical) {
    Simulator controller(SimulatorArgs());
    ASSERT_TRUE(controller.IsRunning());
    OpenTcpWindow(controller);
    WarmUp();
    const std::string config = uitest::ReadText(ConfigPath());
    std::mt19937 rng = Generator("downloads");
    PhaseTally tally("downloads");
    tally.before = Baseline();
    const auto phaseStart = Clock::now();

    for (int n = 1; n <= Rounds(); ++n) {
        Round round = PrepareRound("downloads", n, rng);
        SCOPED_TRACE(round.label);
        m_holdFor = Ms(Uniform(rng, 0, 100));
        StartRun(round);
        ++tally.runs;
        WaitForRoundEnd(round, [&] { return Boxes() > round.boxesBefore && PageIdle(); });

        const auto box = OneMessage(round, tally);
        if (box) ExpectMessage(*box, download_text::kSuccess, QMessageBox::Information);
        if (box && box->text == download_text::kSuccess) ++tally.successes;
        ExpectPageIdle();
        std::vector<int> expected;
        for (int p = 1; p <= 100; ++p) expected.push_back(p);
        expected.push_back(0);
        EXPECT_EQ(round.positions, expected);
        ExpectImageArrived(round);
        CleanUpRound(round);
        ExpectSettled(tally.before);
        EndRound(round, tally, box ? box->text : "no message");
    }

    EXPECT_EQ(uitest::ReadText(ConfigPath()), config) << "downloads leave Config.ini as it was";
    tally.rounds = Rounds();
    tally.seconds = SecondsBetween(phaseStart, Clock::now());
    tally.after = support::TakeProcessResources();
    tally.Print();
}

// Break lands before the last frame's stop test: "Download firmware erroe!",
// no sooner than the first stop request. It lands later, or cannot be pressed
// because the message already shows: the run ends as it would have.
TEST_F(WindowSoak, BreakAtRandomMomentsEndsEachRunWithTheRightMessage) {
    Simulator controller(SimulatorArgs());
    ASSERT_TRUE(controller.IsRunning());
    OpenTcpWindow(controller);
    WarmUp();
    std::mt19937 rng = Generator("breaks");
    PhaseTally tally("breaks");
    tally.before = Baseline();
    const auto phaseStart = Clock::now();

    for (int n = 1; n <= Rounds(); ++n) {
        Round round = PrepareRound("breaks", n, rng);
        SCOPED_TRACE(round.label);
        const int moment = Uniform(rng, 0, kMomentWindowMs);
        // Held open past a stop-wait slice, the box lets stop requests pile
        // up; none may reach the next run.
        m_holdFor = Ms(Uniform(rng, 0, 400));

        bool fired = false;
        std::optional<Clock::time_point> pressedAt;
        QTimer breakTimer;
        breakTimer.setSingleShot(true);
        QObject::connect(&breakTimer, &QTimer::timeout, [&] {
            fired = true;
            // The user cannot reach Break while a message box is up.
            if (QApplication::activeModalWidget() != nullptr || !BreakButton()->isEnabled()) return;
            pressedAt = Clock::now();
            Click(BreakButton());
            EXPECT_FALSE(BreakButton()->isEnabled()) << "Break turns disabled at once";
        });
        StartRun(round);
        ++tally.runs;
        breakTimer.start(moment);
        WaitForRoundEnd(round, [&] { return fired && Boxes() > round.boxesBefore && PageIdle(); });

        const auto box = OneMessage(round, tally);
        const bool finished = round.ReachedTheEnd();
        if (pressedAt) ++tally.breaks;
        std::string outcome = box ? box->text : "no message";
        if (box && finished) {
            ExpectMessage(*box, download_text::kSuccess, QMessageBox::Information);
            ExpectImageArrived(round);
            ++tally.successes;
            ++tally.tooLate;
            outcome += pressedAt ? " (Break after the last stop test" : " (Break too late to press";
            outcome += ", at " + std::to_string(moment) + " ms)";
        } else if (box) {
            ExpectMessage(*box, download_text::kSendOrStop, QMessageBox::Warning);
            EXPECT_TRUE(pressedAt.has_value()) << "the run stopped without a Break";
            if (pressedAt) {
                EXPECT_GE(box->shown - *pressedAt, kStopRequestDelay)
                    << "stopped before the first stop request of this Break";
            }
            ++tally.stopped;
            char at[64];
            std::snprintf(at, sizeof at, " (Break at %d ms, %d%%)", moment,
                          round.positions.size() > 1 ? round.positions[round.positions.size() - 2] : 0);
            outcome += at;
        }
        ExpectPageIdle();
        CleanUpRound(round);
        ExpectSettled(tally.before);
        EndRound(round, tally, outcome);
    }

    tally.rounds = Rounds();
    tally.seconds = SecondsBetween(phaseStart, Clock::now());
    tally.after = support::TakeProcessResources();
    tally.Print();
}

// The ways a user ends the tool during a run.
enum class ExitWay { Button, Escape, CloseButton, Twice, BreakThenExit };
constexpr ExitWay kExitWays[] = {ExitWay::Button, ExitWay::Escape, ExitWay::CloseButton, ExitWay::Twice,
                                 ExitWay::BreakThenExit};

const char* ExitWayName(ExitWay way) {
    switch (way) {
    case ExitWay::Button: return "Exit";
    case ExitWay::Escape: return "Esc";
    case ExitWay::CloseButton: return "the close button";
    case ExitWay::Twice: return "Exit twice";
    case ExitWay::BreakThenExit: return "Break, then Exit";
    }
    return "";
}

// Each round opens a fresh main window, as each start of the tool does, over
// the same Config.ini; Exit at a random moment of its run closes it, only
// once the run's one message has been dismissed.
TEST_F(WindowSoak, ExitAtRandomMomentsClosesTheWindowOnlyAfterTheMessage) {
    Simulator controller(SimulatorArgs());
    ASSERT_TRUE(controller.IsRunning());
    // One window opened and closed first: what Qt keeps from its first
    // window and boxes stays out of the counts.
    OpenTcpWindow(controller);
    WarmUp();
    const std::string config = uitest::ReadText(ConfigPath());
    {
        bool closed = false;
        QObject::connect(&Dlg(), &QDialog::finished, [&] { closed = true; });
        Click(ExitButton());
        ASSERT_TRUE(uitest::WaitUntil([&] { return closed; }));
        m_dlg.reset();
    }
    std::mt19937 rng = Generator("exits");
    PhaseTally tally("exits");
    tally.before = Baseline();
    const auto phaseStart = Clock::now();

    for (int n = 1; n <= Rounds(); ++n) {
        Round round = PrepareRound("exits", n, rng);
        SCOPED_TRACE(round.label);
        OpenWindow();
        ASSERT_TRUE(ClickTab(0));
        const ExitWay way = kExitWays[Uniform(rng, 0, std::size(kExitWays) - 1)];
        const int moment = Uniform(rng, 0, kMomentWindowMs);
        // Held open over two exit ticks at most: the window must wait for it.
        m_holdFor = Ms(Uniform(rng, 0, 700));

        m_windowFinished = false;
        int finishedCount = 0;
        int result = 0;
        Clock::time_point finishedAt;
        QObject::connect(&Dlg(), &QDialog::finished, [&](int r) {
            m_windowFinished = true;
            ++finishedCount;
            result = r;
            finishedAt = Clock::now();
        });
        std::optional<Clock::time_point> exitAt;
        bool duringRun = false;
        QTimer exitTimer;
        QObject::connect(&exitTimer, &QTimer::timeout, [&] {
            // With a message box up the user reads and dismisses it first.
            if (QApplication::activeModalWidget() != nullptr) {
                exitTimer.start(20);
                return;
            }
            exitTimer.stop();
            exitAt = Clock::now();
            duringRun = Page2().m_bBusy.load() != 0;
            switch (way) {
            case ExitWay::Button: Click(ExitButton()); break;
            case ExitWay::Escape: QTest::keyClick(&Dlg(), Qt::Key_Escape); break;
            case ExitWay::CloseButton: EXPECT_FALSE(Dlg().close()) << "the close waits for the timer"; break;
            case ExitWay::Twice:
                Click(ExitButton());
                Click(ExitButton());
                break;
            case ExitWay::BreakThenExit:
                if (BreakButton()->isEnabled()) Click(BreakButton());
                Click(ExitButton());
                break;
            }
            EXPECT_FALSE(BreakButton()->isEnabled()) << "Exit disables Break at once";
        });
        exitTimer.setSingleShot(true);
        StartRun(round);
        ++tally.runs;
        exitTimer.start(moment);
        WaitForRoundEnd(round, [&] { return finishedCount > 0; });
        // Pressed twice, it still closes once.
        if (way == ExitWay::Twice) uitest::RunEventsFor(Ms(400));

        ++tally.exits;
        EXPECT_EQ(finishedCount, 1);
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_FALSE(Dlg().isVisible());
        EXPECT_EQ(Page2().m_bBusy.load(), 0);
        EXPECT_TRUE(Page2().MayClose());
        const auto box = OneMessage(round, tally);
        const bool finished = round.ReachedTheEnd();
        std::string outcome = box ? box->text : "no message";
        if (box) {
            EXPECT_FALSE(box->windowClosedWhileShown) << "the window closed while the message showed";
            EXPECT_GE(finishedAt, box->dismissed) << "the window closed before the message was dismissed";
        }
        if (box && finished) {
            ExpectMessage(*box, download_text::kSuccess, QMessageBox::Information);
            ExpectImageArrived(round);
            ++tally.successes;
            ++tally.tooLate;
            outcome += std::string(" (") + ExitWayName(way) + " after the run)";
        } else if (box) {
            ExpectMessage(*box, download_text::kSendOrStop, QMessageBox::Warning);
            EXPECT_TRUE(exitAt && duringRun) << "the run stopped without an Exit";
            if (exitAt) {
                EXPECT_GE(box->shown - *exitAt, kStopRequestDelay)
                    << "stopped before the first stop request of this Exit";
            }
            ++tally.stopped;
            char at[64];
            std::snprintf(at, sizeof at, " (%s at %d ms)", ExitWayName(way), moment);
            outcome += at;
        }
        if (way == ExitWay::BreakThenExit && duringRun) ++tally.breaks;

        m_dlg.reset();
        CleanUpRound(round);
        ExpectSettled(tally.before);
        EndRound(round, tally, outcome);
    }

    EXPECT_EQ(uitest::ReadText(ConfigPath()), config) << "the windows leave Config.ini as it was";
    tally.rounds = Rounds();
    tally.seconds = SecondsBetween(phaseStart, Clock::now());
    tally.after = support::TakeProcessResources();
    tally.Print();
}

}  // namespace
}  // namespace soak
