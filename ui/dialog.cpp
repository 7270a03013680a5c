#include "ui/dialog.h"

#include <QFrame>
#include <QPushButton>

#include "res/resource.h"

CDialog::CDialog(int templateId, QWidget* parent)
    : QDialog(parent), m_template(FindDialogTemplate(templateId)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(m_template.caption));
}

CDialog::~CDialog() = default;

void CDialog::EnsureCreated() {
    if (m_initialised) return;
    m_initialised = true;
    QFrame* edge = nullptr;
    if (m_template.clientEdge) {
        // The sunken client edge, drawn beneath every control.
        edge = new QFrame(this);
        edge->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        edge->setFocusPolicy(Qt::NoFocus);
    }
    const QSize size = m_controls.Build(this, m_template, DialogFont(m_template.pointSize));
    setFixedSize(size);
    if (edge != nullptr) {
        edge->setGeometry(rect());
        edge->lower();
    }
    if (auto* ok = Item<QPushButton>(IDOK)) connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    if (auto* cancel = Item<QPushButton>(IDCANCEL))
        connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    OnInitDialog();
}

int CDialog::DoModal() {
    EnsureCreated();
    return exec();
}

bool CDialog::CreateModeless() {
    EnsureCreated();
    show();
    return true;
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) { QDialog::done(result); }

void CDialog::accept() { OnOK(); }

void CDialog::reject() { OnCancel(); }

bool CDialog::UpdateData(bool saveAndValidate) {
    return ExchangeData(this, saveAndValidate, [this](CDataExchange* pDX) { DoDataExchange(pDX); });
}

void CDialog::DoDataExchange(CDataExchange*) {}
