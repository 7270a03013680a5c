#pragma once
// The main window: the property sheet above an Exit button. Exit (also Esc
// and the window's close button) stops a running download first and closes
// the window once the Operation page is idle. The About item sits in the
// window's system menu, or in its context menu where the system has no
// system menu to extend.

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
    // True when the command was the About item; any other command is left
    // to the system's own handling (Close arrives here and then as Esc does).
    bool OnSysCommand(unsigned id, long param);
    void OnExit();
    void OnTimer(int id);

    // The menu that stands in for the system menu: the About item.
    std::unique_ptr<QMenu> CreateSystemMenu();
    // Whether the About item went into the system's own system menu.
    bool HasSystemMenuItem() const { return m_bSystemMenuItem; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer m_exitTimer;
    bool m_bSystemMenuItem = false;
};
