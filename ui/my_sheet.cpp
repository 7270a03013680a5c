#include "ui/my_sheet.h"

#include "ui/message_box.h"

namespace {

// A file error of the settings reaches the user in a message box.
class MessageBoxFileErrorReporter : public FileErrorReporter {
public:
    void ReportFileError(const std::string& text) override { AfxMessageBox(text, MB_ICONHAND); }
};

constexpr int kStartPage = 1;  // Communication

}  // namespace

CMySheet::CMySheet(std::string configPath)
    : CPropertySheet(QString(), nullptr, kStartPage), m_strConfigPath(std::move(configPath)) {
    AddPage(&m_page2);
    AddPage(&m_page1);
    m_page1.m_pSheet = this;
    m_page2.m_pSheet = this;
    m_settings = CommSettings{};
    ExchangeSettings(false);
}

CMySheet::~CMySheet() {
    // The pages go before the sheet's base; it must not hear of their tabs
    // disappearing.
    DetachPages();
}

bool CMySheet::ExchangeSettings(bool save) {
    MessageBoxFileErrorReporter reporter;
    return ExchangeSettingsFile(m_settings, save, m_strConfigPath, &reporter);
}

bool CMySheet::KeepComPort(std::uint16_t port, const std::string& device) {
    MessageBoxFileErrorReporter reporter;
    return SaveComPortLine(port, device, m_strConfigPath, &reporter);
}
