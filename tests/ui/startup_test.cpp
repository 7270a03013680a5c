#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "res/resource.h"
#include "ui/ip_address_ctrl.h"
#include "ui/message_box.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

class StartUp : public UpdaterWindowTest {};

TEST_F(StartUp, WithoutConfigFileCreatesItAndOpensOnCommunicationWithDefaults) {
    ASSERT_FALSE(FileExists(ConfigPath()));
    OpenWindow();

    EXPECT_EQ(ReadText(ConfigPath()).size(), 175u);
    EXPECT_EQ(m_messages->Count(), 0u);

    EXPECT_EQ(Dlg().windowTitle(), QStringLiteral("Vornic_v0.2"));
    QTabWidget* tabs = Sheet().TabControl();
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Operation"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Communication"));
    EXPECT_EQ(Sheet().GetActiveIndex(), 1);
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_FALSE(Page2().HasWindow()) << "the Operation page is created when first shown";

    CPage1& p = Page1();
    EXPECT_TRUE(p.Item<QRadioButton>(IDC_RADIO_SERIAL)->isChecked());
    EXPECT_FALSE(p.Item<QRadioButton>(IDC_RADIO_TCPIP)->isChecked());
    auto* combo = p.Item<QComboBox>(IDC_COMNO);
    ASSERT_EQ(combo->count(), 20);
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("COM  1"));
    EXPECT_EQ(combo->itemText(9), QStringLiteral("COM 10"));
    EXPECT_EQ(combo->itemText(19), QStringLiteral("COM 20"));
    auto* address = p.Item<CIPAddressCtrl>(IDC_IPADDRESS);
    std::uint32_t shown = 0;
    EXPECT_EQ(address->GetAddress(shown), 4);
    EXPECT_EQ(shown, 0xC0A80078u);
    EXPECT_EQ(address->Field(0)->text(), QStringLiteral("192"));
    EXPECT_EQ(address->Field(3)->text(), QStringLiteral("120"));
    EXPECT_EQ(Edit(p, IDC_PORTNO)->text(), QStringLiteral("10001"));

    // Serial Port: the address and the port are disabled, the COM list is not.
    EXPECT_FALSE(address->isEnabled());
    EXPECT_FALSE(Edit(p, IDC_PORTNO)->isEnabled());
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_TRUE(Button(p, IDC_SETUP)->isEnabled());

    // The hidden controls exist and carry the time-outs.
    EXPECT_TRUE(Edit(p, IDC_CONNECT_TIMEOUT)->isHidden());
    EXPECT_EQ(Edit(p, IDC_CONNECT_TIMEOUT)->text(), QStringLiteral("2000"));
    EXPECT_TRUE(Edit(p, IDC_READ_TIMEOUT)->isHidden());
    EXPECT_EQ(Edit(p, IDC_READ_TIMEOUT)->text(), QStringLiteral("3000"));
    EXPECT_TRUE(p.Item<QLabel>(IDC_BUSY_NOTE)->isHidden());
}

TEST_F(StartUp, WindowHasFixedSizeNoMinimiseOrMaximiseAndAnIcon) {
    OpenWindow();
    const Qt::WindowFlags flags = Dlg().windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_EQ(Dlg().minimumSize(), Dlg().maximumSize());
    EXPECT_FALSE(Dlg().windowIcon().isNull());
    EXPECT_EQ(LoadAppIcon().availableSizes().value(0), QSize(128, 128));

    // Exit stands in the 40-pixel strip below the sheet.
    auto* exitButton = Dlg().Item<QPushButton>(IDCANCEL);
    ASSERT_NE(exitButton, nullptr);
    EXPECT_EQ(exitButton->text(), QStringLiteral("Exit"));
    EXPECT_EQ(Sheet().geometry().bottom(), Dlg().rect().bottom() - 40);
    EXPECT_GT(exitButton->geometry().top(), Sheet().geometry().bottom());
    EXPECT_LE(exitButton->geometry().bottom(), Dlg().rect().bottom());
}

// Every shown control of both pages lies inside the page area: nothing is
// cut off by the sheet or the window.
TEST_F(StartUp, EveryShownControlOfBothPagesFitsTheWindow) {
    OpenWindow();
    ASSERT_TRUE(ClickTab(0));
    for (CPropertyPage* page : {static_cast<CPropertyPage*>(&Page1()), static_cast<CPropertyPage*>(&Page2())}) {
        for (QWidget* control : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (control->isHidden()) continue;
            EXPECT_TRUE(page->rect().contains(control->geometry()))
                << page->Caption().toStdString() << ": " << control->metaObject()->className()
                << " at " << control->geometry().x() << "," << control->geometry().y() << " size "
                << control->width() << "x" << control->height() << " outside " << page->width()
                << "x" << page->height();
        }
    }
}

TEST_F(StartUp, TabOrderFollowsTheTemplates) {
    ConfigValues tcp;
    tcp.commWay = 1;
    OpenWindowWith(tcp);
    CPage1& p = Page1();
    auto* address = p.Item<CIPAddressCtrl>(IDC_IPADDRESS);

    // Communication with TCP/IP: port, address (one stop), Setup; the radio
    // buttons have no tab stop and the COM list is disabled.
    Edit(p, IDC_PORTNO)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), address->Field(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Button(p, IDC_SETUP));

    // Operation: Download, (Break disabled), the path, Open...
    ASSERT_TRUE(ClickTab(0));
    CPage2& o = Page2();
    Button(o, IDC_DOWNLOAD)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Edit(o, IDC_FIRMWARE));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Button(o, IDC_OPENFILE));
}

TEST_F(StartUp, ConfigFileThatCannotBeCreatedShowsItsErrorBeforeTheWindowAndKeepsDefaults) {
    const std::string path = m_folder.Path("missing") + "/Config.ini";
    m_dlg = std::make_unique<CUpdaterDlg>(nullptr, path);

    // Constructed, not yet shown: the error has been shown already.
    EXPECT_FALSE(Dlg().isVisible());
    const auto messages = m_messages->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find(path), std::string::npos) << messages[0].text;
    EXPECT_EQ(messages[0].type, MB_ICONHAND);
    EXPECT_FALSE(FileExists(path));

    Dlg().CreateModeless();
    EXPECT_EQ(Sheet().m_settings.IPAddr, 0xC0A80078u);
    EXPECT_EQ(Sheet().m_settings.PortNo, 10001);
    EXPECT_EQ(Edit(Page1(), IDC_PORTNO)->text(), QStringLiteral("10001"));
}

}  // namespace
}  // namespace uitest
