// The soak runs the real window on Qt's offscreen platform unless a display
// is asked for; Qt's own event dispatcher replaces GLib's, as in the window
// tests (the thread sanitizer cannot follow GLib's allocator between threads).
#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>
#include <cstdio>
#include <thread>

#include "soak_support.h"

namespace {

QtMessageHandler g_qtHandler = nullptr;

// The offscreen platform says this for every message box; hundreds of boxes
// would bury the soak's own lines.
void QuietQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text == QLatin1String("This plugin does not support propagateSizeHints()")) return;
    if (g_qtHandler != nullptr) g_qtHandler(type, context, text);
}

// Prints the seed first, so that a run that dies still names it, and the
// totals at the end.
class SoakEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Qt scales the boxes' icons on its global thread pool, whose threads
        // (each with an event descriptor of its own) come and go on Qt's
        // schedule. One pool thread that never expires, started before any
        // count, leaves the counts to the tool.
        QThreadPool* pool = QThreadPool::globalInstance();
        pool->setExpiryTimeout(-1);
        pool->setMaxThreadCount(1);
        pool->start([] {});
        std::printf("soak: starting: seed %u, %d rounds a phase, %lld s a round at most\n", soak::Seed(),
                    soak::Rounds(), static_cast<long long>(soak::RoundLimit().count()));
        std::fflush(stdout);
        m_start = support::TakeProcessResources();
    }
    void TearDown() override {
        soak::PrintTotal(m_start);
        // Joined here, while Qt is whole, rather than by its exit code.
        QThreadPool::globalInstance()->waitForDone();
    }

private:
    soak::Resources m_start;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_NO_GLIB", "1");
    ::testing::InitGoogleTest(&argc, argv);
    // A sanitizer's runtime starts a helper thread with the process's first
    // thread: both exist before any count is taken.
    std::thread([] {}).join();
    soak::Watchdog::Start();
    g_qtHandler = qInstallMessageHandler(QuietQtMessages);
    QApplication app(argc, argv);
    ::testing::AddGlobalTestEnvironment(new SoakEnvironment);
    return RUN_ALL_TESTS();
}
