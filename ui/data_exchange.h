#pragma once
// Data exchange between a page's controls and its members: one operation
// with a direction. Loading shows the members; storing reads the controls
// in order and stops at the first that fails, after telling the user and
// putting the focus back on that control.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CIPAddressCtrl;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QWidget;

// Ends a failing store; caught by UpdateData.
struct DataExchangeFailure {};

class CDataExchange {
public:
    CDataExchange(QWidget* dialog, bool saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    const bool m_bSaveAndValidate;  // true: controls to members
    QWidget* const m_pDlgWnd;

    void PrepareCtrl(QWidget* control);
    void PrepareEditCtrl(QLineEdit* control);
    // Focus back on the last prepared control (an edit with its whole text
    // selected), then the store ends.
    [[noreturn]] void Fail();

private:
    QWidget* m_lastControl = nullptr;
    bool m_bEditLastControl = false;
};

// UpdateData's body for any window: one exchange in the given direction
// through `doDataExchange`; false when a store failed.
template <typename DoDataExchange>
bool ExchangeData(QWidget* window, bool saveAndValidate, DoDataExchange doDataExchange) {
    CDataExchange dx(window, saveAndValidate);
    try {
        doDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        return false;
    }
    return true;
}

void DDX_Text(CDataExchange* pDX, QLineEdit* edit, std::string& value);
// Signed 16 bits, shown with "%hd" and read as scanf reads it.
void DDX_Text(CDataExchange* pDX, QLineEdit* edit, std::int16_t& value);
// Sixteen bits shown and read as an unsigned number 0..65535.
void DDX_TextUnsigned16(CDataExchange* pDX, QLineEdit* edit, std::int16_t& bits);
// The index of the checked button of the group, -1 when none is.
void DDX_Radio(CDataExchange* pDX, const std::vector<QRadioButton*>& group, std::int32_t& value);
// The index of the selected entry, -1 when none is.
void DDX_CBIndex(CDataExchange* pDX, QComboBox* combo, std::int32_t& index);
// Host byte order; blank octets read as 0.
void DDX_IPAddress(CDataExchange* pDX, CIPAddressCtrl* control, std::uint32_t& address);

// The integer at the start of `text` as "%hd" reads it: blanks skipped, an
// optional sign, at least one digit, the rest ignored; the low 16 bits kept.
std::optional<std::int16_t> ScanShort(const std::string& text);

// The same reading without the cut to 16 bits; a number too long for 64 bits
// comes back as the largest value of its sign.
std::optional<std::int64_t> ScanInteger(const std::string& text);
