#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <thread>

#include "ui/data_exchange.h"
#include "ui/dialog_units.h"
#include "ui/file_find.h"
#include "ui/ip_address_ctrl.h"
#include "ui/ui_call.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(5, 7, 4), 9);    // 8.75
    EXPECT_EQ(MulDiv(2, 3, 4), 2);    // 1.5
    EXPECT_EQ(MulDiv(-2, 3, 4), -2);  // -1.5
    EXPECT_EQ(MulDiv(1, 1, 4), 0);    // 0.25
    EXPECT_EQ(MulDiv(7, 1, 0), -1);
}

TEST(DialogUnits, RectangleEdgesAreConvertedOneByOne) {
    const DialogBaseUnits units{7, 13};
    // Left 1.75 -> 2, right 3.5 -> 4: a width of 2, not MulDiv(1) = 2 by chance.
    EXPECT_EQ(MapDialogRect(units, 1, 0, 1, 0), QRect(2, 0, 2, 0));
    // The Exit button of the main window at 7 x 14 units.
    EXPECT_EQ(MapDialogRect({7, 14}, 153, 116, 50, 16), QRect(268, 203, 87, 28));
}

TEST(ShortScan, ReadsAsScanfReadsShortIntegers) {
    EXPECT_EQ(ScanShort("  12abc"), std::int16_t{12});
    EXPECT_EQ(ScanShort("\t+7"), std::int16_t{7});
    EXPECT_EQ(ScanShort("-1"), std::int16_t{-1});
    EXPECT_EQ(ScanShort("40000"), std::int16_t{-25536});
    EXPECT_EQ(ScanShort("70000"), std::int16_t{4464});
    EXPECT_EQ(ScanShort("-70000"), std::int16_t{-4464});
    EXPECT_FALSE(ScanShort(""));
    EXPECT_FALSE(ScanShort("abc"));
    EXPECT_FALSE(ScanShort("- 5"));
    EXPECT_FALSE(ScanShort("+"));
    EXPECT_EQ(ScanInteger("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ScanInteger("-99999999999999999999999"), -INT64_MAX);
    EXPECT_EQ(ScanInteger("\n -65536x"), -65536);
    EXPECT_FALSE(ScanInteger("--5"));
    EXPECT_FALSE(ScanShort("+-5"));
}

TEST(FileSearch, MatchesFilesFoldersAndWildcardsInTheLastPart) {
    TempFolder folder;
    WriteBytes(folder.Path("image.bin"), {1, 2, 3});
    std::filesystem::create_directory(folder.Path("sub"));
    CFileFind finder;
    EXPECT_TRUE(finder.FindFile(folder.Path("image.bin")));
    EXPECT_TRUE(finder.FindFile(folder.Path("sub")));
    EXPECT_TRUE(finder.FindFile(folder.Path("*.bin")));
    EXPECT_TRUE(finder.FindFile(folder.Path("im?ge.*")));
    EXPECT_FALSE(finder.FindFile(folder.Path("*.hex")));
    EXPECT_FALSE(finder.FindFile(folder.Path("other.bin")));
    EXPECT_FALSE(finder.FindFile(""));
    EXPECT_FALSE(finder.FindFile(folder.Path("sub") + "/"));
}

TEST(IpAddressControl, BlankOctetsReadAsZero) {
    CIPAddressCtrl control;
    control.SetAddress(0xC0A80078);
    control.Field(1)->clear();
    control.Field(3)->clear();
    std::uint32_t address = 1;
    EXPECT_EQ(control.GetAddress(address), 2);
    EXPECT_EQ(address, 0xC0000000u);
    control.ClearAddress();
    EXPECT_TRUE(control.IsBlank());
    EXPECT_EQ(control.GetAddress(address), 0);
    EXPECT_EQ(address, 0u);
}

TEST(IpAddressControl, TypingMovesFromFieldToField) {
    CIPAddressCtrl control;
    control.resize(200, 24);
    control.show();
    control.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&control));
    control.Field(0)->setFocus();
    QTest::keyClicks(control.Field(0), QStringLiteral("127"));  // three digits move on
    EXPECT_TRUE(control.Field(1)->hasFocus());
    QTest::keyClicks(control.Field(1), QStringLiteral("0."));  // so does a dot
    EXPECT_TRUE(control.Field(2)->hasFocus());
    QTest::keyClicks(control.Field(2), QStringLiteral("0."));
    EXPECT_TRUE(control.Field(3)->hasFocus());
    QTest::keyClicks(control.Field(3), QStringLiteral("999"));  // above 255 becomes 255
    EXPECT_EQ(control.Field(3)->text(), QStringLiteral("255"));
    std::uint32_t address = 0;
    EXPECT_EQ(control.GetAddress(address), 4);
    EXPECT_EQ(address, 0x7F0000FFu) << std::hex << address;
    for (int i = 0; i < 3; ++i) QTest::keyClick(control.Field(3), Qt::Key_Backspace);
    EXPECT_TRUE(control.Field(3)->hasFocus());
    QTest::keyClick(control.Field(3), Qt::Key_Backspace);
    EXPECT_TRUE(control.Field(2)->hasFocus()) << "Backspace in an empty field goes back";
}

// A call that opens a modal loop on the user-interface thread (as a message
// box does) still lets the calls of other workers through.
TEST(UiThreadCalls, RunOnTheUiThreadAndPassThroughAModalLoop) {
    const std::thread::id uiThread = std::this_thread::get_id();
    std::atomic<int> done{0};
    std::thread::id ranOn;
    QEventLoop modal;
    std::thread first([&] {
        SendToUiThread([&] {
            ranOn = std::this_thread::get_id();
            modal.exec();  // until the second worker's call has run
        });
        ++done;
    });
    std::thread second([&] {
        while (!modal.isRunning()) std::this_thread::yield();
        SendToUiThread([&] { modal.quit(); });
        ++done;
    });
    const bool finished = WaitUntil([&] { return done.load() == 2; });
    first.join();
    second.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(ranOn, uiThread);
}

}  // namespace
}  // namespace uitest
