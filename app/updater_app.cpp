#include "app/updater_app.h"

#include <QApplication>

#include "app/updater_dlg.h"
#include "platform/module_path.h"
#include "settings/comm_settings.h"
#include "ui/dialog_template.h"

CUpdaterApp::CUpdaterApp() = default;

CUpdaterApp::~CUpdaterApp() = default;

int CUpdaterApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    // Message boxes are captioned with the executable's name.
    QApplication::setApplicationName(QString::fromStdString(platform::ExecutableTitle()));
    QApplication::setWindowIcon(LoadAppIcon());
    QApplication::setQuitOnLastWindowClosed(false);
    InitInstance();
    return 0;
}

bool CUpdaterApp::InitInstance() {
    // Common controls and the socket library need no start-up here.
    const std::string configPath = ConfigFilePath();
    // Loads the settings, creating Config.ini when it is missing; a file
    // error is shown before the window.
    CUpdaterDlg dlg(nullptr, configPath);
    LoadComPortOverrides(configPath);
    dlg.DoModal();
    return false;
}
