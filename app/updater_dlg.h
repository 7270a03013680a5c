#pragma once
// The main window: the property sheet above an Exit button. Exit (also Esc
// and the window's close button) stops a running download first and closes
// the window once the Operation page is idle. The About item sits in the
// window's context menu.

#include <QBasicTimer>
#include <QIcon>
#include <memory>
#include <string>

#include "settings/comm_settings.h"
#include "ui/dialog.h"
#include "ui/my_sheet.h"

class QMenu;

class CUpdaterDlg : public CDialog {
    Q_OBJECT
public:
    explicit CUpdaterDlg(QWidget* parent = nullptr, std::string configPath = ConfigFilePath());
    ~CUpdaterDlg() override;

    QIcon m_hIcon;
    CMySheet m_sheet;

    bool OnInitDialog() override;
    void OnCancel() override;
    void OnSysCommand(unsigned id, long param);
    void OnExit();
    void OnTimer(int id);

    // The menu that stands in for the system menu: the About item.
    std::unique_ptr<QMenu> CreateSystemMenu();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer m_exitTimer;
};
