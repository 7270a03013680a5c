#pragma once
// Identifiers of the tool's resources: dialog templates, controls, strings,
// the icon and the command of the About item.

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_UPDATER_DIALOG = 102;
inline constexpr int IDD_COMMUNICATION = 129;
inline constexpr int IDD_OPERATION = 132;

// Strings and icons.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDR_MAINFRAME = 128;

// The command of the About item.
inline constexpr int IDM_ABOUTBOX = 0x0010;

// Controls without an identifier of their own.
inline constexpr int IDC_STATIC = -1;

// Standard buttons and message-box results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Operation page (template 132).
inline constexpr int IDC_DOWNLOAD = 1;
inline constexpr int IDC_BREAK = 2;
inline constexpr int IDC_FIRMWARE = 1001;
inline constexpr int IDC_OPENFILE = 1002;
inline constexpr int IDC_PERCENT = 1004;
inline constexpr int IDC_PROGRESS = 1008;

// Communication page (template 129).
inline constexpr int IDC_SETUP = 1000;
inline constexpr int IDC_RADIO_SERIAL = 1001;
inline constexpr int IDC_RADIO_TCPIP = 1002;
inline constexpr int IDC_PORTNO = 1003;
inline constexpr int IDC_READ_TIMEOUT = 1004;
inline constexpr int IDC_CONNECT_TIMEOUT = 1005;
inline constexpr int IDC_IPADDRESS = 1006;
inline constexpr int IDC_COMNO = 1009;
inline constexpr int IDC_BUSY_NOTE = 1011;
