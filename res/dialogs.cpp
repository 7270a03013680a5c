#include "res/dialogs.h"

#include <cstdlib>

#include "res/resource.h"

namespace {

using namespace ctl;

const DialogTemplate kAboutBox{
    IDD_ABOUTBOX, "关于", 235, 55, 9, true,
    {
        {IDC_STATIC, ControlKind::Icon, "", 11, 17, 20, 20, kVisible},
        {IDC_STATIC, ControlKind::Static, "Vornic _v0.2", 40, 10, 127, 8, kVisible | kNoPrefix},
        {IDC_STATIC, ControlKind::Static, "System:Windows 2000/XP/Vista", 40, 24, 181, 8, kVisible},
        {IDOK, ControlKind::DefPushButton, "确定", 178, 7, 50, 16, kVisible | kTabStop | kGroup},
        {IDC_STATIC, ControlKind::Static, "Released 2008-06", 40, 37, 119, 8, kVisible},
    },
};

const DialogTemplate kUpdaterDialog{
    IDD_UPDATER_DIALOG, "Vornic_v0.2", 210, 138, 9, false,
    {
        {IDCANCEL, ControlKind::PushButton, "Exit", 153, 116, 50, 16, kVisible | kTabStop},
    },
};

const DialogTemplate kCommunication{
    IDD_COMMUNICATION, "Communication", 199, 114, 9, false,
    {
        {IDC_RADIO_SERIAL, ControlKind::AutoRadioButton, "Serial Port", 10, 8, 55, 10, kVisible | kGroup},
        {IDC_RADIO_TCPIP, ControlKind::AutoRadioButton, "TCP/IP", 10, 23, 38, 10, kVisible},
        {IDC_PORTNO, ControlKind::Edit, "", 55, 70, 31, 13,
         kVisible | kBorder | kNumber | kAutoHScroll | kTabStop | kGroup},
        {IDC_READ_TIMEOUT, ControlKind::Edit, "", 115, 65, 31, 13,
         kBorder | kNumber | kAutoHScroll | kTabStop | kGroup},
        {IDC_CONNECT_TIMEOUT, ControlKind::Edit, "", 115, 66, 32, 13,
         kBorder | kNumber | kAutoHScroll | kTabStop},
        {IDC_IPADDRESS, ControlKind::IPAddress, "", 55, 45, 138, 13, kVisible | kTabStop},
        {IDC_STATIC, ControlKind::Static, "Port No.:", 7, 71, 36, 11, kVisible},
        {IDC_STATIC, ControlKind::Static, "Connect Overtime:", 107, 65, 35, 12, 0},
        {IDC_STATIC, ControlKind::Static, "IP Address:", 7, 46, 47, 10, kVisible},
        {IDC_STATIC, ControlKind::Static, "Read Overtime:", 107, 65, 29, 11, 0},
        {IDC_SETUP, ControlKind::PushButton, "Setup", 79, 92, 44, 15, kVisible | kTabStop},
        {IDC_COMNO, ControlKind::DropDownList, "", 124, 8, 57, 81, kVisible | kVScroll | kTabStop},
        {IDC_STATIC, ControlKind::Static, "Com No.:", 76, 9, 37, 9, kVisible},
        {IDC_BUSY_NOTE, ControlKind::Static, "", 123, 67, 16, 8, 0},
    },
};

const DialogTemplate kOperation{
    IDD_OPERATION, "Operation", 232, 111, 8, false,
    {
        {IDC_DOWNLOAD, ControlKind::DefPushButton, "Download", 58, 89, 50, 14, kVisible | kTabStop},
        {IDC_BREAK, ControlKind::PushButton, "Break", 117, 89, 50, 14, kVisible | kDisabled | kTabStop},
        {IDC_FIRMWARE, ControlKind::Edit, "", 7, 22, 217, 13, kVisible | kBorder | kAutoHScroll | kTabStop},
        {IDC_STATIC, ControlKind::Static, "Firmware:", 7, 8, 47, 11, kVisible},
        {IDC_OPENFILE, ControlKind::PushButton, "Open..", 181, 41, 44, 14, kVisible | kTabStop},
        {IDC_PROGRESS, ControlKind::ProgressBar, "", 7, 69, 218, 11, kVisible | kBorder},
        {IDC_PERCENT, ControlKind::Static, "", 65, 54, 92, 11, kVisible | kCenter},
    },
};

}  // namespace

const DialogTemplate& FindDialogTemplate(int id) {
    switch (id) {
    case IDD_ABOUTBOX: return kAboutBox;
    case IDD_UPDATER_DIALOG: return kUpdaterDialog;
    case IDD_COMMUNICATION: return kCommunication;
    case IDD_OPERATION: return kOperation;
    default: std::abort();
    }
}
