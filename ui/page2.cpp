#include "ui/page2.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>

#include "comm/com_port_numbering.h"
#include "download/download_link.h"
#include "download/download_thread.h"
#include "download/stop_wait.h"
#include "platform/thread.h"
#include "res/resource.h"
#include "ui/file_find.h"
#include "ui/message_box.h"
#include "ui/my_sheet.h"
#include "ui/ui_call.h"

namespace {
constexpr const char* kFirmwareFilter = "Bin Files(*.bin)";
}  // namespace

CPage2::CPage2() : CPropertyPage(IDD_OPERATION) {
    m_channel.SetWay(kWaySerial);
    m_channel.SetSerialParams(1, kSerialBaud, kSerialReadTimeoutMs);
}

CPage2::~CPage2() = default;

void CPage2::DoDataExchange(CDataExchange* pDX) {
    CPropertyPage::DoDataExchange(pDX);
    DDX_Text(pDX, Item<QLineEdit>(IDC_FIRMWARE), m_strFirmware);
    m_progress = Item<QProgressBar>(IDC_PROGRESS);
}

bool CPage2::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    connect(Item<QPushButton>(IDC_DOWNLOAD), &QPushButton::clicked, this, [this] { OnDownload(); });
    connect(Item<QPushButton>(IDC_BREAK), &QPushButton::clicked, this, [this] { OnBreak(); });
    connect(Item<QPushButton>(IDC_OPENFILE), &QPushButton::clicked, this, [this] { OnOpenFile(); });
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    return true;
}

void CPage2::OnDownload() {
    // After Exit nothing may start, and a stop-wait still under way would stop
    // the next run.
    if (m_bExiting || m_bReady.load() == 0 || m_bBusy.load() != 0) return;

    UpdateData(true);
    GetDlgItem(IDC_DOWNLOAD)->setEnabled(false);
    GetDlgItem(IDC_BREAK)->setEnabled(true);

    const CommSettings& s = m_pSheet->m_settings;
    // An adapter plugged in since the list last dropped down gets its number now.
    if (s.CommWay == 0) RefreshComPorts();
    DownloadLink link;
    link.way = s.CommWay;
    // The COM number is computed in 16 bits: a huge index from a hand-edited
    // file wraps instead of overflowing.
    link.com = static_cast<std::uint16_t>(static_cast<std::uint16_t>(s.com) + 1);
    link.address = s.IPAddr;
    link.port = static_cast<std::uint16_t>(s.PortNo);
    SetUpDownloadChannel(m_channel, link);

    CFileFind finder;
    if (!finder.FindFile(m_strFirmware)) {
        ShowMessage(download_text::kReadError, MessageStyle::Warning);
        SetButtonsIdle();
        return;
    }
    m_strRunPath = m_strFirmware;
    if (!StartDownloadThread(this)) {
        ShowMessage(download_text::kUnexpected, MessageStyle::Warning);
        SetButtonsIdle();
    }
}

void CPage2::OnBreak() { RunBreakSteps(); }

void CPage2::BreakForExit() {
    m_bExiting = true;
    RunBreakSteps();
}

void CPage2::RunBreakSteps() {
    if (!HasWindow()) return;
    GetDlgItem(IDC_BREAK)->setEnabled(false);
    // One stop-wait at a time: a running one already asks the download to stop
    // and sets the ready flag once it is idle. A second one could still be
    // reaching for the page after the first had let the window close.
    if (m_bReady.exchange(0) == 0) return;
    if (!platform::StartDetachedThread([this] { StopWaitThread(this); })) {
        // Nothing asks the run to stop: Break may be pressed again.
        m_bReady.store(1);
        GetDlgItem(IDC_BREAK)->setEnabled(m_bBusy.load() != 0);
    }
}

unsigned CPage2::StopWaitThread(CPage2* page) {
    page->m_bReady.store(0);
    StopUntilIdle(page->m_hIdleEvent, page->m_hStopEvent);
    SendToUiThread([page] {
        if (page->HasWindow()) page->GetDlgItem(IDC_DOWNLOAD)->setEnabled(true);
    });
    // The last touch of the page: once ready, the window may close.
    page->m_bReady.store(1);
    return 0;
}

bool CPage2::MayClose() {
    // A wait, not a look: returning from it orders the worker's last touch of
    // the page before whatever the caller does next.
    return m_bReady.load() == 1 && m_hIdleEvent.Wait(0);
}

void CPage2::OnOpenFile() {
    QFileDialog dialog(this, QString(), QString(), QString::fromLatin1(kFirmwareFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    // Qt gives '/' on every system; the user sees and edits the system's form.
    m_strFirmware = QDir::toNativeSeparators(dialog.selectedFiles().front()).toStdString();
    UpdateData(false);
}

void CPage2::SetButtonsIdle() {
    GetDlgItem(IDC_DOWNLOAD)->setEnabled(true);
    GetDlgItem(IDC_BREAK)->setEnabled(false);
}

void CPage2::EnableSetup(bool enable) {
    CPage1& page1 = m_pSheet->m_page1;
    if (page1.HasWindow()) page1.GetDlgItem(IDC_SETUP)->setEnabled(enable);
}

void CPage2::SetProgress(int percent) {
    SendToUiThread([this, percent] {
        m_progress->setValue(percent);
        char text[16];
        std::snprintf(text, sizeof text, "%d%%", percent);
        Item<QLabel>(IDC_PERCENT)->setText(QString::fromLatin1(text));
    });
}

void CPage2::OnDownloadStarted() {
    SendToUiThread([this] { EnableSetup(false); });
}

void CPage2::OnDownloadEnded() {
    SendToUiThread([this] {
        EnableSetup(true);
        SetButtonsIdle();
    });
}

void CPage2::ShowMessage(const std::string& text, MessageStyle style) {
    AfxMessageBox(text, MB_OK | (style == MessageStyle::Information ? MB_ICONINFORMATION
                                                                    : MB_ICONEXCLAMATION));
}
