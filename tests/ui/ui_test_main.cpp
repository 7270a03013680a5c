// The window tests run real widgets; without a display they use Qt's
// offscreen platform. Qt's own event dispatcher replaces GLib's: GLib's
// allocator hands memory between Qt's threads in ways the thread sanitizer
// cannot follow.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_NO_GLIB", "1");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Qt's own file dialog, which a test can reach; a system's native one is
    // a window of its own that no QWidget stands for.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    return RUN_ALL_TESTS();
}
