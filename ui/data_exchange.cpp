#include "ui/data_exchange.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <cctype>
#include <charconv>
#include <limits>
#include <string_view>

#include "res/strings.h"
#include "settings/leading_integer.h"
#include "ui/ip_address_ctrl.h"
#include "ui/message_box.h"

namespace {

constexpr std::int64_t kPortMin = 0;
constexpr std::int64_t kPortMax = 65535;

std::string TextOf(const QLineEdit* edit) { return edit->text().toStdString(); }

void ParseFailed(CDataExchange* pDX, const std::string& message) {
    AfxMessageBox(message);
    pDX->Fail();
}

// The text after the white space that scanf skips.
std::string_view AfterSpace(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    return std::string_view(text).substr(i);
}

}  // namespace

void CDataExchange::PrepareCtrl(QWidget* control) {
    m_lastControl = control;
    m_bEditLastControl = false;
}

void CDataExchange::PrepareEditCtrl(QLineEdit* control) {
    m_lastControl = control;
    m_bEditLastControl = true;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_lastControl != nullptr) {
        m_lastControl->setFocus(Qt::OtherFocusReason);
        if (m_bEditLastControl) static_cast<QLineEdit*>(m_lastControl)->selectAll();
    }
    throw DataExchangeFailure{};
}

std::optional<std::int16_t> ScanShort(const std::string& text) {
    const auto value = settings::LeadingInteger(AfterSpace(text));
    if (!value) return std::nullopt;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(*value));
}

std::optional<std::int64_t> ScanInteger(const std::string& text) {
    std::string_view rest = AfterSpace(text);
    const bool negative = !rest.empty() && rest.front() == '-';
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) rest.remove_prefix(1);
    // A digit must follow, or from_chars would take a second sign.
    if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest.front()))) return std::nullopt;
    std::int64_t value = 0;
    // Digits past the largest value read as the largest value.
    if (std::from_chars(rest.data(), rest.data() + rest.size(), value).ec == std::errc::result_out_of_range)
        value = std::numeric_limits<std::int64_t>::max();
    return negative ? -value : value;
}

void DDX_Text(CDataExchange* pDX, QLineEdit* edit, std::string& value) {
    pDX->PrepareEditCtrl(edit);
    if (pDX->m_bSaveAndValidate)
        value = TextOf(edit);
    else
        edit->setText(QString::fromStdString(value));
}

void DDX_Text(CDataExchange* pDX, QLineEdit* edit, std::int16_t& value) {
    pDX->PrepareEditCtrl(edit);
    if (!pDX->m_bSaveAndValidate) {
        edit->setText(QString::number(value));
        return;
    }
    const auto scanned = ScanShort(TextOf(edit));
    if (!scanned) ParseFailed(pDX, LoadResString(IDP_PARSE_INT));
    value = *scanned;
}

void DDX_TextUnsigned16(CDataExchange* pDX, QLineEdit* edit, std::int16_t& bits) {
    pDX->PrepareEditCtrl(edit);
    if (!pDX->m_bSaveAndValidate) {
        edit->setText(QString::number(static_cast<std::uint16_t>(bits)));
        return;
    }
    const auto scanned = ScanInteger(TextOf(edit));
    if (!scanned) ParseFailed(pDX, LoadResString(IDP_PARSE_INT));
    if (*scanned < kPortMin || *scanned > kPortMax)
        ParseFailed(pDX, FormatResString(IDP_PARSE_INT_RANGE,
                                         {std::to_string(kPortMin), std::to_string(kPortMax)}));
    bits = static_cast<std::int16_t>(static_cast<std::uint16_t>(*scanned));
}

void DDX_Radio(CDataExchange* pDX, const std::vector<QRadioButton*>& group, std::int32_t& value) {
    if (group.empty()) return;
    pDX->PrepareCtrl(group.front());
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (std::size_t i = 0; i < group.size(); ++i) {
            if (group[i]->isChecked()) {
                value = static_cast<std::int32_t>(i);
                break;
            }
        }
        return;
    }
    for (std::size_t i = 0; i < group.size(); ++i) {
        QRadioButton* button = group[i];
        const bool check = static_cast<std::int32_t>(i) == value;
        // An exclusive button refuses to be unchecked; a value outside the
        // group leaves every button unchecked all the same.
        const bool exclusive = button->autoExclusive();
        button->setAutoExclusive(false);
        button->setChecked(check);
        button->setAutoExclusive(exclusive);
    }
}

void DDX_CBIndex(CDataExchange* pDX, QComboBox* combo, std::int32_t& index) {
    pDX->PrepareCtrl(combo);
    if (pDX->m_bSaveAndValidate)
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void DDX_IPAddress(CDataExchange* pDX, CIPAddressCtrl* control, std::uint32_t& address) {
    pDX->PrepareCtrl(control);
    if (pDX->m_bSaveAndValidate)
        control->GetAddress(address);
    else
        control->SetAddress(address);
}
