#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QWheelEvent>
#include <QTest>

#include "res/resource.h"
#include "support/loopback.h"
#include "ui/ip_address_ctrl.h"
#include "ui/message_box.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

constexpr const char* kParseInt = "Please enter an integer.";
constexpr const char* kParseRange = "Please enter an integer between 0 and 65535.";

class CommunicationPage : public UpdaterWindowTest {
protected:
    QRadioButton* Radio(int id) { return Page1().Item<QRadioButton>(id); }
    QComboBox* ComList() { return Page1().Item<QComboBox>(IDC_COMNO); }
    CIPAddressCtrl* Address() { return Page1().Item<CIPAddressCtrl>(IDC_IPADDRESS); }
    QLineEdit* Port() { return Edit(Page1(), IDC_PORTNO); }
    void SetAddress(std::uint32_t address) { Address()->SetAddress(address); }

    // The store failed with exactly this message, and the edit holds the focus
    // with its whole text selected.
    void ExpectRefusedWith(const std::string& message, QLineEdit* edit) {
        const auto messages = m_messages->Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, message);
        EXPECT_EQ(messages[0].type, MB_ICONEXCLAMATION);
        EXPECT_EQ(QApplication::focusWidget(), edit)
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none");
        EXPECT_EQ(edit->selectedText(), edit->text());
        m_messages->Clear();
    }

    std::string AddressFieldsText() {
        std::string text;
        for (int i = 0; i < 4; ++i)
            text += (i ? " . " : "") + Address()->Field(i)->text().toStdString();
        return text;
    }

    // Real keys go where the focus is, as the user's do.
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(static_cast<QWidget*>(nullptr), key, modifiers);
    }
};

std::string Focused() {
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->metaObject()->className() : "none";
}

using EnablingRule = CommunicationPage;
using DataExchange = CommunicationPage;
using SetupCommand = CommunicationPage;
using TabSwitch = CommunicationPage;
using AddressTyping = CommunicationPage;

TEST_F(EnablingRule, ClickingARadioButtonSwitchesAddressPortAndComListAtOnce) {
    OpenWindow();
    Click(Radio(IDC_RADIO_TCPIP));
    EXPECT_TRUE(Address()->isEnabled());
    EXPECT_TRUE(Port()->isEnabled());
    EXPECT_FALSE(ComList()->isEnabled());
    EXPECT_EQ(Page1().CommWay, 0) << "a click changes no member";

    Click(Radio(IDC_RADIO_SERIAL));
    EXPECT_FALSE(Address()->isEnabled());
    EXPECT_FALSE(Port()->isEnabled());
    EXPECT_TRUE(ComList()->isEnabled());
}

TEST_F(EnablingRule, TransportOutsideTheGroupChecksNeitherButtonAndStoresMinusOne) {
    ConfigValues odd;
    odd.commWay = 2;
    odd.com = 25;
    OpenWindowWith(odd);
    EXPECT_FALSE(Radio(IDC_RADIO_SERIAL)->isChecked());
    EXPECT_FALSE(Radio(IDC_RADIO_TCPIP)->isChecked());
    EXPECT_TRUE(ComList()->isEnabled());
    EXPECT_FALSE(Address()->isEnabled());
    EXPECT_EQ(ComList()->currentIndex(), -1);

    ASSERT_TRUE(Page1().UpdateData(true));
    EXPECT_EQ(Page1().CommWay, -1);
    EXPECT_EQ(Page1().com, -1);
}

TEST_F(DataExchange, StoreStopsAtTheFirstRefusedEditKeepingEarlierRows) {
    OpenWindow();
    const std::int16_t port = Page1().PortNo;
    const std::int32_t com = Page1().com;

    Click(Radio(IDC_RADIO_TCPIP));
    SetAddress(0x0A010203);
    Port()->setText(QStringLiteral("abc"));
    Edit(Page1(), IDC_CONNECT_TIMEOUT)->setText(QStringLiteral("1234"));
    Edit(Page1(), IDC_READ_TIMEOUT)->setText(QStringLiteral("4321"));
    ComList()->setCurrentIndex(5);

    EXPECT_FALSE(Page1().UpdateData(true));
    ExpectRefusedWith(kParseInt, Port());
    // Rows 1 and 2 were stored; 3 failed; 4 to 6 kept their values.
    EXPECT_EQ(Page1().CommWay, 1);
    EXPECT_EQ(Page1().IPAddr, 0x0A010203u);
    EXPECT_EQ(Page1().PortNo, port);
    EXPECT_EQ(Page1().connectTimeO, 2000);
    EXPECT_EQ(Page1().tcpReadTimeO, 3000);
    EXPECT_EQ(Page1().com, com);
}

TEST_F(DataExchange, PortTakesTheWholeUnsignedRangeAndKeepsItsSixteenBits) {
    OpenWindow();
    const struct {
        const char* text;
        std::int16_t bits;
    } cases[] = {{"0", 0}, {"65535", -1}, {"40000", -25536}, {"  123abc", 123}, {"+77", 77}};
    for (const auto& c : cases) {
        Port()->setText(QString::fromLatin1(c.text));
        ASSERT_TRUE(Page1().UpdateData(true)) << c.text;
        EXPECT_EQ(Page1().PortNo, c.bits) << c.text;
    }
    Page1().PortNo = -25536;
    ASSERT_TRUE(Page1().UpdateData(false));
    EXPECT_EQ(Port()->text(), QStringLiteral("40000"));
    EXPECT_EQ(m_messages->Count(), 0u);
}

TEST_F(DataExchange, PortOutsideTheRangeOrNoNumberIsRefused) {
    OpenWindow();
    Click(Radio(IDC_RADIO_TCPIP));
    for (const char* text : {"65536", "70000", "-1", "99999999999999999999999"}) {
        Port()->setText(QString::fromLatin1(text));
        EXPECT_FALSE(Page1().UpdateData(true)) << text;
        ExpectRefusedWith(kParseRange, Port());
        EXPECT_EQ(Page1().PortNo, 10001) << text;
    }
    for (const char* text : {"", "x1", "- 5"}) {
        Port()->setText(QString::fromLatin1(text));
        EXPECT_FALSE(Page1().UpdateData(true)) << text;
        ExpectRefusedWith(kParseInt, Port());
    }
}

TEST_F(DataExchange, HiddenTimeoutsAreReadAsShortIntegers) {
    OpenWindow();
    Edit(Page1(), IDC_READ_TIMEOUT)->setText(QStringLiteral("70000"));
    Edit(Page1(), IDC_CONNECT_TIMEOUT)->setText(QStringLiteral("-5"));
    ASSERT_TRUE(Page1().UpdateData(true));
    EXPECT_EQ(Page1().tcpReadTimeO, 4464);
    EXPECT_EQ(Page1().connectTimeO, -5);

    Edit(Page1(), IDC_READ_TIMEOUT)->setText(QStringLiteral("x"));
    EXPECT_FALSE(Page1().UpdateData(true));
    ASSERT_EQ(m_messages->Count(), 1u);
    EXPECT_EQ(m_messages->Messages()[0].text, kParseInt);
}

TEST_F(SetupCommand, SerialPortSavesWithoutATestConnection) {
    loopback::RefusingPort refusing;  // a test connection would fail here
    ConfigValues values;
    values.port = refusing.Port();
    OpenWindowWith(values);
    ComList()->setCurrentIndex(4);
    Click(Button(Page1(), IDC_SETUP));

    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Setup successfully!");
    EXPECT_EQ(messages[0].type, MB_ICONINFORMATION);
    EXPECT_EQ(Sheet().m_settings.com, 4);
    EXPECT_EQ(ConfigValue(ConfigPath(), "com"), "4");
    EXPECT_EQ(ConfigValue(ConfigPath(), "CommWay"), "0");
}

TEST_F(SetupCommand, TcpIpToTheControllerConnectsOnceAndSaves) {
    Simulator controller;
    ASSERT_TRUE(controller.IsRunning());
    OpenWindow();
    Click(Radio(IDC_RADIO_TCPIP));
    SetAddress(kLoopback);
    TypeInto(Port(), std::to_string(controller.Port()));
    Click(Button(Page1(), IDC_SETUP));

    ASSERT_EQ(m_messages->Count(), 1u);
    EXPECT_EQ(m_messages->Messages()[0].text, "Setup successfully!");
    EXPECT_TRUE(controller.WaitForSessions(1)) << "the test connection";
    EXPECT_EQ(ConfigValue(ConfigPath(), "CommWay"), "1");
    EXPECT_EQ(ConfigValue(ConfigPath(), "IPAddr"), "2130706433");
    EXPECT_EQ(ConfigValue(ConfigPath(), "PortNo"),
              std::to_string(static_cast<std::int16_t>(controller.Port())));
    EXPECT_EQ(Sheet().m_settings.CommWay, 1);
    EXPECT_EQ(static_cast<std::uint16_t>(Sheet().m_settings.PortNo), controller.Port());
}

TEST_F(SetupCommand, TcpIpWhereNobodyAnswersShowsConnectErrorAfterTheTimeoutAndSavesNothing) {
    loopback::SilentListener silent;
    if (!silent.Ready()) GTEST_SKIP() << silent.Reason();
    OpenWindow();
    const std::string fileBefore = ReadText(ConfigPath());
    Click(Radio(IDC_RADIO_TCPIP));
    SetAddress(kLoopback);
    TypeInto(Port(), std::to_string(silent.Port()));

    QElapsedTimer clock;
    clock.start();
    Click(Button(Page1(), IDC_SETUP));
    const qint64 elapsed = clock.elapsed();

    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Connect error!");
    EXPECT_EQ(messages[0].type, MB_ICONHAND);
    EXPECT_GE(elapsed, 1950) << "the 2000 ms connect time-out";
    EXPECT_LT(elapsed, 15000);
    EXPECT_EQ(ReadText(ConfigPath()), fileBefore);
    EXPECT_EQ(Sheet().m_settings.CommWay, 0);
    EXPECT_EQ(Sheet().m_settings.IPAddr, 0xC0A80078u);
    // The page keeps the user's input.
    EXPECT_TRUE(Radio(IDC_RADIO_TCPIP)->isChecked());
    EXPECT_EQ(Port()->text().toStdString(), std::to_string(silent.Port()));
}

TEST_F(SetupCommand, BroadcastAddressFailsAtOnceWithoutAnyPacket) {
    OpenWindow();
    const std::string fileBefore = ReadText(ConfigPath());
    Click(Radio(IDC_RADIO_TCPIP));
    SetAddress(0xFFFFFFFF);
    QElapsedTimer clock;
    clock.start();
    Click(Button(Page1(), IDC_SETUP));
    EXPECT_LT(clock.elapsed(), 1500) << "no connect time-out to wait for";
    ASSERT_EQ(m_messages->Count(), 1u);
    EXPECT_EQ(m_messages->Messages()[0].text, "Connect error!");
    EXPECT_EQ(ReadText(ConfigPath()), fileBefore);
}

// The address control left at 0.0.0.0: Linux would connect it to this host.
TEST_F(SetupCommand, EmptyAddressFailsAtOnceAndReachesNoLocalService) {
    loopback::Listener local;
    ASSERT_TRUE(local.IsValid());
    OpenWindow();
    const std::string fileBefore = ReadText(ConfigPath());
    Click(Radio(IDC_RADIO_TCPIP));
    SetAddress(0);
    TypeInto(Port(), std::to_string(local.Port()));
    Click(Button(Page1(), IDC_SETUP));
    ASSERT_EQ(m_messages->Count(), 1u);
    EXPECT_EQ(m_messages->Messages()[0].text, "Connect error!");
    EXPECT_EQ(ReadText(ConfigPath()), fileBefore);
    EXPECT_FALSE(local.Accept(200).IsValid());
}

TEST_F(SetupCommand, PortAbove32767IsSavedNegativeAndShownBackUnsigned) {
    OpenWindow();
    Port()->setText(QStringLiteral("40000"));  // disabled with Serial Port, still stored
    Click(Button(Page1(), IDC_SETUP));
    ASSERT_EQ(m_messages->Count(), 1u);
    EXPECT_EQ(ConfigValue(ConfigPath(), "PortNo"), "-25536");

    ASSERT_TRUE(ClickTab(0));
    ASSERT_TRUE(ClickTab(1));
    EXPECT_EQ(Port()->text(), QStringLiteral("40000"));
}

TEST_F(SetupCommand, FailedSaveShowsTheFileErrorAndNoSuccess) {
    const std::string path = m_folder.Path("missing") + "/Config.ini";
    m_dlg = std::make_unique<CUpdaterDlg>(nullptr, path);
    Dlg().CreateModeless();
    m_messages->Clear();

    ComList()->setCurrentIndex(2);
    Click(Button(Page1(), IDC_SETUP));
    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find(path), std::string::npos) << messages[0].text;
    EXPECT_EQ(messages[0].type, MB_ICONHAND);
}

TEST_F(TabSwitch, InvalidPortKeepsTheCommunicationPageActive) {
    OpenWindow();
    Click(Radio(IDC_RADIO_TCPIP));
    Port()->setText(QStringLiteral("x"));
    EXPECT_FALSE(ClickTab(0));
    ExpectRefusedWith(kParseInt, Port());
    EXPECT_EQ(Sheet().TabControl()->currentIndex(), 1);
    EXPECT_FALSE(Page2().HasWindow());
    // Also with Serial Port, where the port edit is disabled: its text is
    // still stored.
    Click(Radio(IDC_RADIO_SERIAL));
    EXPECT_FALSE(Sheet().SetActivePage(0));
    ASSERT_EQ(m_messages->Count(), 1u);
    EXPECT_EQ(m_messages->Messages()[0].text, kParseInt);
    EXPECT_EQ(Sheet().GetActiveIndex(), 1);
}

TEST_F(TabSwitch, EditsNotConfirmedWithSetupAreDiscardedOnReturn) {
    OpenWindow();
    ComList()->setCurrentIndex(7);
    ASSERT_TRUE(ClickTab(0));
    EXPECT_EQ(Page1().com, 7) << "leaving stores into the page";
    ASSERT_TRUE(ClickTab(1));
    EXPECT_EQ(ComList()->currentIndex(), 0) << "coming back loads from the record";
    EXPECT_EQ(Sheet().m_settings.com, 0);
}

// How the user asks for the other page: a key combination, a click on the
// Operation tab, or a wheel turn over the tabs.
struct PageRequest {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool fromTabs;  // the tabs hold the focus, as after Shift+Tab from the page
};
constexpr Qt::Key kClick = Qt::Key_unknown;
constexpr Qt::Key kWheelUp = Qt::Key_Up;
constexpr Qt::Key kElsewhere = Qt::Key_No;  // the tab widget told directly, as no user can
const PageRequest kPageRequests[] = {
    {"click", kClick, Qt::NoModifier, false},
    {"Ctrl+Tab", Qt::Key_Tab, Qt::ControlModifier, false},
    {"Ctrl+Shift+Tab", Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, false},
    {"Ctrl+Shift+Tab as Tab", Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier, false},
    {"Ctrl+PgUp", Qt::Key_PageUp, Qt::ControlModifier, false},
    {"Ctrl+PgDn", Qt::Key_PageDown, Qt::ControlModifier, false},
    {"Ctrl+Tab on the tabs", Qt::Key_Tab, Qt::ControlModifier, true},
    {"Left on the tabs", Qt::Key_Left, Qt::NoModifier, true},
    {"wheel on the tabs", kWheelUp, Qt::NoModifier, false},
    {"tabs set from elsewhere", kElsewhere, Qt::NoModifier, false},
};

class PageSwitch : public CommunicationPage {
protected:
    void Request(const PageRequest& r) {
        QTabBar* bar = Sheet().TabControl()->tabBar();
        if (r.key == kClick) {
            ClickTab(0);
        } else if (r.key == kElsewhere) {
            Sheet().TabControl()->setCurrentIndex(0);
        } else if (r.key == kWheelUp) {
            const QPoint at = bar->tabRect(0).center();
            QWheelEvent wheel(at, bar->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(bar, &wheel);
        } else {
            if (r.fromTabs) bar->setFocus(Qt::BacktabFocusReason);
            Press(r.key, r.modifiers);
        }
    }
};

TEST_F(PageSwitch, RefusedByTheCommunicationPageBeforeTheTabsChangeWithTheFocusInThePort) {
    OpenWindowWith({1, 0, kLoopback, 10001, 3000});
    const struct {
        const char* port;
        const char* message;
    } texts[] = {{"70000", kParseRange}, {"", kParseInt}};
    for (const auto& t : texts) {
        for (const PageRequest& r : kPageRequests) {
            SCOPED_TRACE(testing::Message() << r.name << " with port \"" << t.port << "\"");
            Port()->setText(QString::fromLatin1(t.port));
            // The user was last in the address; the refusal takes them to the port.
            QTest::mouseClick(Address()->Field(1), Qt::LeftButton);
            int shownOn = -1;
            const QMetaObject::Connection watch =
                QObject::connect(Sheet().TabControl(), &QTabWidget::currentChanged, [&](int i) { shownOn = i; });
            Request(r);
            QObject::disconnect(watch);
            if (r.key != kElsewhere) {
                EXPECT_EQ(shownOn, -1) << "the tabs changed before the page was asked";
            }
            ExpectRefusedWith(t.message, Port());
            EXPECT_EQ(Sheet().GetActiveIndex(), 1);
            EXPECT_EQ(Sheet().TabControl()->currentIndex(), 1);
            EXPECT_TRUE(Page1().isVisible());
            EXPECT_FALSE(Page2().HasWindow());
        }
    }
}

TEST_F(PageSwitch, AcceptedTurnsThePageAndPutsTheFocusOnItsFirstControlUnlessTheTabsHoldIt) {
    OpenWindowWith({1, 0, kLoopback, 10001, 3000});
    for (const PageRequest& r : kPageRequests) {
        SCOPED_TRACE(r.name);
        ASSERT_EQ(Sheet().GetActiveIndex(), 1);
        Port()->setFocus(Qt::OtherFocusReason);
        Request(r);
        EXPECT_EQ(Sheet().GetActiveIndex(), 0);
        EXPECT_EQ(Sheet().TabControl()->currentIndex(), 0);
        QWidget* expected = r.fromTabs ? static_cast<QWidget*>(Sheet().TabControl()->tabBar())
                                       : Button(Page2(), IDC_DOWNLOAD);
        EXPECT_EQ(QApplication::focusWidget(), expected) << Focused();
        EXPECT_EQ(m_messages->Count(), 0u);
        // The keys that turn forwards or backwards both come round to the
        // Communication page again; arrows and the wheel stop at the ends.
        if (r.key == kClick || r.key == Qt::Key_Left || r.key == kWheelUp || r.key == kElsewhere) {
            ASSERT_TRUE(ClickTab(1));
        } else {
            Press(r.key, r.modifiers);
            EXPECT_EQ(Sheet().GetActiveIndex(), 1);
        }
    }
}

// With the real message box the window is inactive while the box is shown,
// and takes back the focus it last held when it is active again.
TEST_F(PageSwitch, RefusedWithARealMessageBoxLeavesTheFocusInThePortOnceTheWindowIsActiveAgain) {
    OpenWindowWith({1, 0, kLoopback, 10001, 3000});
    m_messages.reset();
    QString shown;
    ModalUser user([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return false;
        shown = box->text();
        QTest::keyClick(box, Qt::Key_Enter);
        return true;
    });
    for (const PageRequest& r : kPageRequests) {
        SCOPED_TRACE(r.name);
        Port()->setText(QStringLiteral("70000"));
        QTest::mouseClick(Port(), Qt::LeftButton);
        const int handled = user.Handled();
        Request(r);  // returns once the box has been dismissed
        ASSERT_EQ(user.Handled(), handled + 1);
        EXPECT_EQ(shown.toStdString(), kParseRange);
        // No window manager here: the test gives the window its activation back.
        Dlg().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Dlg()));
        EXPECT_EQ(QApplication::focusWidget(), Port()) << Focused();
        EXPECT_EQ(Port()->selectedText(), QStringLiteral("70000"));
        EXPECT_EQ(Sheet().GetActiveIndex(), 1);
        EXPECT_EQ(Sheet().TabControl()->currentIndex(), 1);
    }
}

TEST_F(AddressTyping, WholeAddressTypedOverOldFieldsLandsAsTyped) {
    // A third digit moves on by itself; the dot the user types next must not
    // skip a field as well. Rows for the simulator's address go through Setup
    // and the file; the others are only stored from the controls, never
    // connected to.
    const struct {
        std::uint32_t before;
        const char* typed;
        const char* fields;
        std::uint32_t stored;
        bool setup;
    } cases[] = {
        {0xC0A80078, "127.0.0.1", "127 . 0 . 0 . 1", 0x7F000001, true},
        {0xC0A80078, "10.1.2.3", "10 . 1 . 2 . 3", 0x0A010203, false},
        {0xC0A80078, "255.255.255.255", "255 . 255 . 255 . 255", 0xFFFFFFFF, false},
        {0x0A010203, "127.100.7.250", "127 . 100 . 7 . 250", 0x7F6407FA, false},
        {0x7F000001, "1.23.100.9", "1 . 23 . 100 . 9", 0x01176409, false},
        {0x01020304, "300.1.2.3", "255 . 1 . 2 . 3", 0xFF010203, false},
        {0xC0A80078, "127.0.0.12", "127 . 0 . 0 . 12", 0x7F00000C, false},
        {0xFFFFFFFF, "127.0.0.1", "127 . 0 . 0 . 1", 0x7F000001, true},
    };
    Simulator controller;
    ASSERT_TRUE(controller.IsRunning());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ConfigValues values;
        values.commWay = 1;
        values.ipAddr = c.before;
        values.port = controller.Port();
        OpenWindowWith(values);
        // From the port, Tab enters the address with its first field selected.
        Port()->setFocus(Qt::OtherFocusReason);
        Press(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Address()->Field(0)) << Focused();
        QTest::keyClicks(static_cast<QWidget*>(nullptr), QString::fromLatin1(c.typed));
        EXPECT_EQ(AddressFieldsText(), c.fields);
        if (c.setup) {
            // Whatever the typing did, the test connection stays on loopback.
            ASSERT_EQ(Address()->Field(0)->text(), QStringLiteral("127"));
            Click(Button(Page1(), IDC_SETUP));
            ASSERT_EQ(m_messages->Count(), 1u);
            EXPECT_EQ(m_messages->Messages()[0].text, "Setup successfully!");
            EXPECT_EQ(Sheet().m_settings.IPAddr, c.stored);
            EXPECT_EQ(ConfigValue(ConfigPath(), "IPAddr"), std::to_string(c.stored));
        } else {
            ASSERT_TRUE(Page1().UpdateData(true));
            EXPECT_EQ(Page1().IPAddr, c.stored);
        }
        m_messages->Clear();
        m_dlg.reset();
    }
}

TEST_F(AddressTyping, DotAfterADotAClickOrInAnEmptyFieldFollowsTheFieldRules) {
    OpenWindowWith({1, 0, 0xC0A80078, 10001, 3000});
    Port()->setFocus(Qt::OtherFocusReason);
    Press(Qt::Key_Tab);
    // A dot in a field that the user's own dot entered moves on.
    QTest::keyClicks(static_cast<QWidget*>(nullptr), QStringLiteral("1..5"));
    EXPECT_EQ(AddressFieldsText(), "1 . 168 . 5 . 120");
    // A dot in an emptied field stays there.
    Press(Qt::Key_Backspace);
    Press(Qt::Key_Period);
    EXPECT_EQ(QApplication::focusWidget(), Address()->Field(2));
    QTest::keyClicks(static_cast<QWidget*>(nullptr), QStringLiteral("9"));
    // A click after the move by a third digit makes the next dot the user's.
    QTest::mouseClick(Address()->Field(0), Qt::LeftButton);
    Press(Qt::Key_End);
    QTest::keyClicks(static_cast<QWidget*>(nullptr), QStringLiteral("23"));
    ASSERT_EQ(QApplication::focusWidget(), Address()->Field(1));
    QTest::mouseClick(Address()->Field(1), Qt::LeftButton);
    Press(Qt::Key_Period);
    EXPECT_EQ(QApplication::focusWidget(), Address()->Field(2)) << Focused();
    EXPECT_EQ(AddressFieldsText(), "123 . 168 . 9 . 120");
}

TEST_F(AddressTyping, TabAndShiftTabLeaveTheControlFromEveryField) {
    OpenWindowWith({1, 0, 0xC0A80078, 10001, 3000});
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool forwards;
    } keys[] = {{Qt::Key_Tab, Qt::NoModifier, true},
                {Qt::Key_Backtab, Qt::ShiftModifier, false},
                {Qt::Key_Tab, Qt::ShiftModifier, false}};
    for (const auto& k : keys) {
        for (int field = 0; field < 4; ++field) {
            SCOPED_TRACE(testing::Message() << "field " << field << " forwards " << k.forwards);
            QTest::mouseClick(Address()->Field(field), Qt::LeftButton);
            ASSERT_EQ(QApplication::focusWidget(), Address()->Field(field));
            Press(k.key, k.modifiers);
            QWidget* expected = k.forwards ? static_cast<QWidget*>(Button(Page1(), IDC_SETUP)) : Port();
            EXPECT_EQ(QApplication::focusWidget(), expected) << Focused();
        }
    }
}

}  // namespace
}  // namespace uitest
