#pragma once
// The "Communication" page: the transport, the COM port, the controller's
// address and port. Setup tests a TCP/IP choice by connecting once and then
// keeps the choice in the settings record and Config.ini.

#include <cstdint>
#include <vector>

#include "comm/com_port_numbering.h"

#include "ui/property_page.h"

class CMySheet;
class QRadioButton;

class CPage1 : public CPropertyPage {
    Q_OBJECT
public:
    CPage1();
    ~CPage1() override;

    CMySheet* m_pSheet = nullptr;
    std::uint32_t IPAddr = 0;  // host byte order
    std::int16_t PortNo = 0;
    std::int32_t com = 0;
    std::int16_t tcpReadTimeO = 0;
    std::int16_t connectTimeO = 0;
    std::int32_t CommWay = 0;

    // true: page to the sheet's record; false: record to page.
    void CopySettings(bool toSheet);
    bool TestConnection();

    bool OnInitDialog() override;
    bool OnSetActive() override;
    void OnRadioWay();
    void OnSetup();

    // The COM list as it drops down: each entry with a port behind it says
    // what the port is. Closed, the list shows the plain names.
    void ShowComPortNames();
    void ShowPlainComNames();

protected:
    void DoDataExchange(CDataExchange* pDX) override;

private:
    std::vector<QRadioButton*> RadioGroup() const;
    // Setup on an adapter's number writes the line that keeps the number.
    bool KeepAdapterNumber();
};
