#include "ui/page1.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>
#include <string>

#include "comm/comm_channel.h"
#include "platform/tcp_socket.h"
#include "res/resource.h"
#include "ui/combo_box.h"
#include "ui/ip_address_ctrl.h"
#include "ui/message_box.h"
#include "ui/my_sheet.h"

namespace {
constexpr int kComPortCount = 20;
constexpr const char* kSetupDone = "Setup successfully!";
constexpr const char* kConnectError = "Connect error!";
constexpr const char* kDownloadBusy = "文件下载中请等待!";

// "COM %2d": the entry as the list has always shown it.
std::string PlainComName(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "COM %2d", number);
    return text;
}

// "COM  5   FT232R USB UART (ttyUSB0)" for an entry with a port behind it.
std::string DescribedComName(int number, const ComPortEntry* entry) {
    std::string text = PlainComName(number);
    if (!entry || !entry->present) return text;
    text += "   " + entry->description;
    text += " (" + entry->node.substr(entry->node.rfind('/') + 1) + ")";
    return text;
}
}  // namespace

CPage1::CPage1() : CPropertyPage(IDD_COMMUNICATION) {}

CPage1::~CPage1() = default;

std::vector<QRadioButton*> CPage1::RadioGroup() const {
    return {Item<QRadioButton>(IDC_RADIO_SERIAL), Item<QRadioButton>(IDC_RADIO_TCPIP)};
}

void CPage1::DoDataExchange(CDataExchange* pDX) {
    CPropertyPage::DoDataExchange(pDX);
    DDX_Radio(pDX, RadioGroup(), CommWay);
    DDX_IPAddress(pDX, Item<CIPAddressCtrl>(IDC_IPADDRESS), IPAddr);
    DDX_TextUnsigned16(pDX, Item<QLineEdit>(IDC_PORTNO), PortNo);
    DDX_Text(pDX, Item<QLineEdit>(IDC_CONNECT_TIMEOUT), connectTimeO);
    DDX_Text(pDX, Item<QLineEdit>(IDC_READ_TIMEOUT), tcpReadTimeO);
    DDX_CBIndex(pDX, Item<QComboBox>(IDC_COMNO), com);
}

bool CPage1::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    for (QRadioButton* radio : RadioGroup())
        connect(radio, &QRadioButton::clicked, this, [this] { OnRadioWay(); });
    connect(Item<QPushButton>(IDC_SETUP), &QPushButton::clicked, this, [this] { OnSetup(); });

    auto* combo = Item<CComboBox>(IDC_COMNO);
    for (int i = 0; i < kComPortCount; ++i) combo->insertItem(i, QString::fromStdString(PlainComName(i + 1)));
    connect(combo, &CComboBox::popupAboutToShow, this, [this] { ShowComPortNames(); });
    connect(combo, &CComboBox::popupHidden, this, [this] { ShowPlainComNames(); });
    CopySettings(false);
    UpdateData(false);
    return true;
}

bool CPage1::OnSetActive() {
    CopySettings(false);
    UpdateData(false);
    OnRadioWay();
    return CPropertyPage::OnSetActive();
}

void CPage1::OnRadioWay() {
    const bool tcp = Item<QRadioButton>(IDC_RADIO_TCPIP)->isChecked();
    GetDlgItem(IDC_IPADDRESS)->setEnabled(tcp);
    GetDlgItem(IDC_PORTNO)->setEnabled(tcp);
    GetDlgItem(IDC_COMNO)->setEnabled(!tcp);
}

void CPage1::CopySettings(bool toSheet) {
    CommSettings& s = m_pSheet->m_settings;
    if (toSheet) {
        s.IPAddr = IPAddr;
        s.PortNo = PortNo;
        s.com = com;
        s.tcpReadTimeO = tcpReadTimeO;
        s.connectTimeO = connectTimeO;
        s.CommWay = CommWay;
    } else {
        IPAddr = s.IPAddr;
        PortNo = s.PortNo;
        com = s.com;
        tcpReadTimeO = s.tcpReadTimeO;
        connectTimeO = s.connectTimeO;
        CommWay = s.CommWay;
    }
}

void CPage1::OnSetup() {
    if (m_pSheet->m_page2.m_bBusy.load() != 0) {
        // The note is hidden: the user sees no change while the download runs.
        Item<QLabel>(IDC_BUSY_NOTE)->setText(QString::fromUtf8(kDownloadBusy));
        return;
    }
    if (!UpdateData(true)) return;
    if (CommWay == kWayTcp && !TestConnection()) return;
    CopySettings(true);
    if (!m_pSheet->ExchangeSettings(true)) return;
    if (CommWay == kWaySerial && !KeepAdapterNumber()) return;
    AfxMessageBox(kSetupDone, MB_ICONINFORMATION);
}

bool CPage1::KeepAdapterNumber() {
    if (com < 0 || com >= kHighestComNumber) return true;
    const std::vector<ComPortEntry> entries = RefreshComPorts();
    const ComPortEntry* entry = FindComPort(entries, static_cast<std::uint16_t>(com + 1));
    const std::string line = entry ? PortsLineToKeep(*entry) : std::string();
    return line.empty() || m_pSheet->KeepComPort(entry->number, line);
}

void CPage1::ShowComPortNames() {
    // Listing the ports takes a few milliseconds: sysfs and udev's database
    // are in memory.
    const std::vector<ComPortEntry> entries = RefreshComPorts();
    auto* combo = Item<CComboBox>(IDC_COMNO);
    for (int i = 0; i < combo->count(); ++i) {
        const auto number = static_cast<std::uint16_t>(i + 1);
        combo->setItemText(i, QString::fromStdString(DescribedComName(number, FindComPort(entries, number))));
    }
    // The dropped list is as wide as its longest entry, whatever the box's width.
    QAbstractItemView* view = combo->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth());
}

void CPage1::ShowPlainComNames() {
    auto* combo = Item<CComboBox>(IDC_COMNO);
    for (int i = 0; i < combo->count(); ++i) combo->setItemText(i, QString::fromStdString(PlainComName(i + 1)));
}

bool CPage1::TestConnection() {
    CCommChannel channel;
    channel.SetWay(kWayTcp);
    channel.SetTcpParams(platform::HostToNetwork32(IPAddr), static_cast<std::uint16_t>(PortNo),
                         connectTimeO, static_cast<std::uint32_t>(static_cast<std::int32_t>(tcpReadTimeO)));
    if (!channel.Open()) {
        AfxMessageBox(kConnectError, MB_ICONHAND);
        return false;
    }
    return true;
}
