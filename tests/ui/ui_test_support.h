#pragma once
// What the window tests share: waiting on the event loop, the message boxes
// the tool shows (recorded instead of shown), a "user" who acts on modal
// windows, files in a temporary folder, the controller simulator on a thread
// of the test, and the main window opened as start-up opens it.

#include <gtest/gtest.h>

#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/updater_dlg.h"
#include "support/simulator_thread.h"
#include "support/temp_folder.h"
#include "tools/controller_sim/controller_sim.h"

class QLineEdit;
class QPushButton;
class QWidget;

namespace uitest {

using namespace std::chrono_literals;
using support::Bytes;

// Long enough for a whole download under a sanitizer on a busy machine.
constexpr std::chrono::milliseconds kRunLimit = 120s;
constexpr std::uint32_t kLoopback = 0x7F000001;

// Runs the event loop until `condition` holds; false when the time ran out.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);
// Runs the event loop for a while: for asserting that something does NOT happen.
void RunEventsFor(std::chrono::milliseconds duration);

struct ShownMessage {
    std::string text;
    unsigned type;  // with the icon resolved: MB_ICONHAND, MB_ICONEXCLAMATION, ...
};

// While alive, every message box is recorded and answered with OK at once.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<ShownMessage> Messages() const;
    std::size_t Count() const;
    bool WaitForCount(std::size_t count, std::chrono::milliseconds limit = 10s) const;
    void Clear();

private:
    mutable std::mutex m_lock;
    std::vector<ShownMessage> m_messages;
};

// Looks at the screen every 20 ms and acts on the active modal window: the
// only way to reach a modal window while its own event loop runs.
class ModalUser {
public:
    using Step = std::function<bool(QWidget* modal)>;  // true: done with this window
    explicit ModalUser(Step step);
    ~ModalUser();
    int Handled() const { return m_handled; }

private:
    QTimer m_timer;
    Step m_step;
    QPointer<QWidget> m_last;
    int m_handled = 0;
};

using support::TempFolder;
using support::WriteBytes;
inline Bytes PatternedImage(std::size_t size, unsigned seed) { return support::RandomBytes(size, seed); }
inline std::string ReadText(const std::string& path) { return support::ReadAll(path); }
bool FileExists(const std::string& path);

struct ConfigValues {
    std::int32_t commWay = 0;
    std::int32_t com = 0;
    std::uint32_t ipAddr = kLoopback;
    std::uint16_t port = 10001;
    std::int16_t readTimeout = 3000;
};
// Config.ini as the tool writes it (CR LF lines, section [Set]).
void WriteConfig(const std::string& path, const ConfigValues& values);
// The value of a key of [Set] as the file has it; empty when missing.
std::string ConfigValue(const std::string& path, const std::string& key);

using Simulator = support::SimulatorThread;

// The main window over a Config.ini in a temporary folder. Messages are
// recorded unless a test asks for real boxes.
class UpdaterWindowTest : public ::testing::Test {
protected:
    void TearDown() override;

    std::string ConfigPath() const { return m_folder.Path("Config.ini"); }
    // Constructs and shows the main window as start-up does, and activates it.
    void OpenWindow();
    void OpenWindowWith(const ConfigValues& values);
    // Opens it with Config.ini set to reach `controller`: its TCP port, or,
    // for a simulator on a pseudo-terminal, COM3 mapped to that.
    void OpenWindowAgainst(const Simulator& controller);

    CUpdaterDlg& Dlg() { return *m_dlg; }
    CMySheet& Sheet() { return m_dlg->m_sheet; }
    CPage1& Page1() { return m_dlg->m_sheet.m_page1; }
    CPage2& Page2() { return m_dlg->m_sheet.m_page2; }
    QPushButton* Button(CPropertyPage& page, int id);
    QLineEdit* Edit(CPropertyPage& page, int id);

    // Clicks a tab as the user does; true when that tab became active.
    bool ClickTab(int index);
    void Click(QWidget* widget);
    // Types `text` into an edit after clearing it, as the user would.
    void TypeInto(QLineEdit* edit, const std::string& text);
    bool WaitUntilIdle(std::chrono::milliseconds limit = kRunLimit);
    // The Operation page as every run leaves it: ready for the next one.
    void ExpectPageIdle();

    TempFolder m_folder;
    std::unique_ptr<MessageRecorder> m_messages = std::make_unique<MessageRecorder>();
    std::unique_ptr<CUpdaterDlg> m_dlg;
};

}  // namespace uitest
