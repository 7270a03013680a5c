#include "ui_test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com_port_paths.h"
#include "res/resource.h"
#include "ui/message_box.h"

namespace uitest {

namespace {
constexpr std::uint16_t kSimulatorCom = 3;
}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit.count()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qSleep(2);
    }
    return true;
}

void RunEventsFor(std::chrono::milliseconds duration) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qSleep(2);
    }
}

MessageRecorder::MessageRecorder() {
    SetMessageBoxHook([this](const std::string& text, unsigned type) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.push_back({text, type});
        return 1;  // IDOK
    });
}

MessageRecorder::~MessageRecorder() { SetMessageBoxHook(nullptr); }

std::vector<ShownMessage> MessageRecorder::Messages() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages;
}

std::size_t MessageRecorder::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages.size();
}

bool MessageRecorder::WaitForCount(std::size_t count, std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return Count() >= count; }, limit);
}

void MessageRecorder::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.clear();
}

ModalUser::ModalUser(Step step) : m_step(std::move(step)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == m_last) return;
        if (m_step(modal)) {
            m_last = modal;
            ++m_handled;
        }
    });
    m_timer.start(20);
}

ModalUser::~ModalUser() { m_timer.stop(); }

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void WriteConfig(const std::string& path, const ConfigValues& v) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "[Set]\r\nCommWay=%d\r\ncom=%d\r\nIPAddr=%u\r\nPortNo=%d\r\ntcpReadTimeO=%d",
                  v.commWay, v.com, v.ipAddr, static_cast<int>(static_cast<std::int16_t>(v.port)),
                  v.readTimeout);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ConfigValue(const std::string& path, const std::string& key) {
    std::istringstream lines(ReadText(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + "=", 0) == 0) {
            std::string value = line.substr(key.size() + 1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
            return value;
        }
    }
    return {};
}

void UpdaterWindowTest::TearDown() {
    if (!m_dlg) return;
    // The page must not go while a run or a stop-wait reaches for it.
    if (!m_messages) m_messages = std::make_unique<MessageRecorder>();
    if (Page2().HasWindow() && !Page2().MayClose()) {
        Page2().OnBreak();
        EXPECT_TRUE(WaitUntilIdle()) << "the download did not end";
    }
    m_dlg.reset();
    platform::ClearComPortPaths();
}

void UpdaterWindowTest::OpenWindow() {
    m_dlg = std::make_unique<CUpdaterDlg>(nullptr, ConfigPath());
    m_dlg->CreateModeless();
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
}

void UpdaterWindowTest::OpenWindowWith(const ConfigValues& values) {
    WriteConfig(ConfigPath(), values);
    OpenWindow();
}

void UpdaterWindowTest::OpenWindowAgainst(const Simulator& controller) {
    ConfigValues values;
    if (controller.SerialPath().empty()) {
        values.commWay = 1;
        values.port = controller.Port();
    } else {
        platform::SetComPortPath(kSimulatorCom, controller.SerialPath());
        values.commWay = 0;
        values.com = kSimulatorCom - 1;
    }
    OpenWindowWith(values);
}

QPushButton* UpdaterWindowTest::Button(CPropertyPage& page, int id) {
    return page.Item<QPushButton>(id);
}

QLineEdit* UpdaterWindowTest::Edit(CPropertyPage& page, int id) { return page.Item<QLineEdit>(id); }

bool UpdaterWindowTest::ClickTab(int index) {
    QTabBar* bar = Sheet().TabControl()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    return Sheet().GetActiveIndex() == index;
}

void UpdaterWindowTest::Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

void UpdaterWindowTest::TypeInto(QLineEdit* edit, const std::string& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdString(text));
}

bool UpdaterWindowTest::WaitUntilIdle(std::chrono::milliseconds limit) {
    return WaitUntil([this] { return Page2().MayClose() && Page2().m_bBusy.load() == 0; }, limit);
}

void UpdaterWindowTest::ExpectPageIdle() {
    EXPECT_TRUE(Button(Page2(), IDC_DOWNLOAD)->isEnabled());
    EXPECT_FALSE(Button(Page2(), IDC_BREAK)->isEnabled());
    EXPECT_TRUE(Button(Page1(), IDC_SETUP)->isEnabled());
    EXPECT_EQ(Page2().Item<QProgressBar>(IDC_PROGRESS)->value(), 0);
    EXPECT_EQ(Page2().Item<QLabel>(IDC_PERCENT)->text(), QStringLiteral("0%"));
    EXPECT_EQ(Page2().m_bBusy.load(), 0);
    EXPECT_EQ(Page2().m_bReady.load(), 1);
    EXPECT_TRUE(Page2().m_hIdleEvent.IsSignalled());
}

}  // namespace uitest
