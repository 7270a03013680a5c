#include "ui/property_page.h"

CPropertyPage::CPropertyPage(int templateId)
    : m_template(FindDialogTemplate(templateId)), m_font(DialogFont(m_template.pointSize)) {}

CPropertyPage::~CPropertyPage() = default;

bool CPropertyPage::Create() {
    if (HasWindow()) return true;
    m_templateSize = m_controls.Build(this, m_template, m_font);
    OnInitDialog();
    return true;
}

bool CPropertyPage::OnInitDialog() {
    UpdateData(false);
    return true;
}

bool CPropertyPage::OnSetActive() { return true; }

bool CPropertyPage::OnKillActive() { return UpdateData(true); }

bool CPropertyPage::UpdateData(bool saveAndValidate) {
    if (!HasWindow()) return false;
    return ExchangeData(this, saveAndValidate, [this](CDataExchange* pDX) { DoDataExchange(pDX); });
}

void CPropertyPage::DoDataExchange(CDataExchange*) {}

void CPropertyPage::SetDialogFont(const QFont& font) {
    m_font = font;
    if (HasWindow()) m_templateSize = m_controls.Relayout(this, m_template, m_font);
}

QSize CPropertyPage::TemplateSizeFor(const QFont& font) const {
    const DialogBaseUnits units = BaseUnitsOf(font);
    return MapDialogRect(units, 0, 0, m_template.cx, m_template.cy).size();
}

QString CPropertyPage::Caption() const { return QString::fromUtf8(m_template.caption); }

QWidget* CPropertyPage::FirstTabStop() const {
    for (QWidget* control : m_controls.All()) {
        QWidget* target = control->focusProxy() ? control->focusProxy() : control;
        if ((target->focusPolicy() & Qt::TabFocus) && control->isEnabled() && !control->isHidden())
            return target;
    }
    return nullptr;
}
