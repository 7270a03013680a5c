#include "app/updater_dlg.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTimerEvent>

#include "app/about_box.h"
#include "platform/system_menu.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {
constexpr int kExitTimerId = 1;
constexpr int kExitTimerMs = 300;
constexpr int kExitStripPixels = 40;  // below the sheet: the Exit button
}  // namespace

CUpdaterDlg::CUpdaterDlg(QWidget* parent, std::string configPath)
    : CDialog(IDD_UPDATER_DIALOG, parent), m_sheet(std::move(configPath)) {
    m_hIcon = LoadAppIcon();
}

CUpdaterDlg::~CUpdaterDlg() = default;

bool CUpdaterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const std::string about = LoadResString(IDS_ABOUTBOX);
    if (!about.empty())
        m_bSystemMenuItem =
            platform::AppendSystemMenuItem(static_cast<std::uintptr_t>(winId()), IDM_ABOUTBOX, about);
    setWindowIcon(m_hIcon);
    if (!m_sheet.Create(this)) return true;
    QRect client = rect();
    client.setBottom(client.bottom() - kExitStripPixels);
    m_sheet.setGeometry(client);
    return true;
}

std::unique_ptr<QMenu> CUpdaterDlg::CreateSystemMenu() {
    auto menu = std::make_unique<QMenu>(this);
    const std::string about = LoadResString(IDS_ABOUTBOX);
    if (!about.empty()) {
        QAction* item = menu->addAction(QString::fromStdString(about));
        connect(item, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
    }
    return menu;
}

void CUpdaterDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (m_bSystemMenuItem) {
        CDialog::contextMenuEvent(event);
        return;
    }
    const std::unique_ptr<QMenu> menu = CreateSystemMenu();
    if (!menu->isEmpty()) menu->exec(event->globalPos());
}

bool CUpdaterDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const auto command =
        platform::SystemCommandOf(std::string_view(eventType.constData(), static_cast<std::size_t>(eventType.size())), message);
    if (command && OnSysCommand(command->id, command->param)) {
        *result = 0;
        return true;
    }
    return CDialog::nativeEvent(eventType, message, result);
}

bool CUpdaterDlg::OnSysCommand(unsigned id, long) {
    if ((id & 0xFFF0u) != IDM_ABOUTBOX) return false;
    CAboutBox about(this);
    about.DoModal();
    return true;
}

void CUpdaterDlg::OnCancel() { OnExit(); }

void CUpdaterDlg::OnExit() {
    m_sheet.m_page2.BreakForExit();
    m_exitTimer.start(kExitTimerMs, this);
}

void CUpdaterDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_exitTimer.timerId())
        OnTimer(kExitTimerId);
    else
        CDialog::timerEvent(event);
}

void CUpdaterDlg::OnTimer(int) {
    if (!m_sheet.m_page2.MayClose()) return;
    m_exitTimer.stop();
    EndDialog(IDCANCEL);
}
