#pragma once
// The property sheet of the main window: the Operation and Communication
// pages and the communication settings record, loaded from Config.ini when
// the sheet is constructed.

#include <string>

#include "settings/comm_settings.h"
#include "ui/page1.h"
#include "ui/page2.h"
#include "ui/property_sheet.h"

class CMySheet : public CPropertySheet {
    Q_OBJECT
public:
    // The tabs read "Operation", "Communication"; Communication is shown first.
    explicit CMySheet(std::string configPath = ConfigFilePath());
    ~CMySheet() override;

    CPage1 m_page1;
    CPage2 m_page2;
    CommSettings m_settings;

    // The file operation: save false loads Config.ini into the record, save
    // true writes the record to it. False when the file could not be created
    // or written; the user has then seen the file error.
    bool ExchangeSettings(bool save);
    // Writes the [Ports] line that keeps COM `port` on `device`; false after
    // a file error the user has seen.
    bool KeepComPort(std::uint16_t port, const std::string& device);
    const std::string& ConfigPath() const { return m_strConfigPath; }

private:
    std::string m_strConfigPath;
};
