#include "ui/ip_address_ctrl.h"

#include <QEvent>
#include <algorithm>
#include <QRegularExpressionValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
        field->setContextMenuPolicy(Qt::NoContextMenu);
        // The control is one tab stop: Tab enters at the first field and
        // leaves from any field.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, field, i](const QString& text) {
            // An octet above 255 becomes 255.
            if (text.toUInt() > 255) field->setText(QStringLiteral("255"));
            if (field->text().size() == 3 && i + 1 < m_fields.size()) {
                FocusField(static_cast<int>(i) + 1, true);
                m_enteredByDigit = static_cast<int>(i) + 1;
            }
        });
        m_fields[i] = field;
        if (i + 1 < m_fields.size()) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            m_dots[i] = dot;
        }
    }
    setFocusProxy(m_fields[0]);
    UpdateBackground();
}

void CIPAddressCtrl::SetAddress(std::uint32_t address) {
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const unsigned octet = (address >> (24 - 8 * i)) & 0xFFu;
        m_fields[i]->setText(QString::number(octet));
    }
}

int CIPAddressCtrl::GetAddress(std::uint32_t& address) const {
    address = 0;
    int filled = 0;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const QString text = m_fields[i]->text().trimmed();
        unsigned octet = 0;
        if (!text.isEmpty()) {
            ++filled;
            octet = std::min(text.toUInt(), 255u);
        }
        address |= octet << (24 - 8 * i);
    }
    return filled;
}

void CIPAddressCtrl::ClearAddress() {
    for (QLineEdit* field : m_fields) field->clear();
}

bool CIPAddressCtrl::IsBlank() const {
    for (QLineEdit* field : m_fields)
        if (!field->text().isEmpty()) return false;
    return true;
}

int CIPAddressCtrl::IndexOf(QObject* field) const {
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i] == field) return static_cast<int>(i);
    return -1;
}

void CIPAddressCtrl::FocusField(int index, bool atStart) {
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    field->setFocus(Qt::OtherFocusReason);
    if (atStart)
        field->selectAll();
    else
        field->setCursorPosition(static_cast<int>(field->text().size()));
}

void CIPAddressCtrl::LeaveBackwards() {
    // The backward step would stop at the first field, the control's one tab
    // stop; for this step it is passed over.
    QLineEdit* first = m_fields[0];
    const Qt::FocusPolicy policy = first->focusPolicy();
    first->setFocusPolicy(Qt::ClickFocus);
    focusNextPrevChild(false);
    first->setFocusPolicy(policy);
}

namespace {
bool IsModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr;
}
}  // namespace

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index < 0) return QFrame::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut || event->type() == QEvent::MouseButtonPress)
        m_enteredByDigit = -1;
    if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (IsModifierKey(key->key())) return QFrame::eventFilter(watched, event);
    const bool enteredByDigit = index == m_enteredByDigit;
    m_enteredByDigit = -1;
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    const int last = static_cast<int>(m_fields.size()) - 1;
    const bool backwards = key->key() == Qt::Key_Backtab ||
                           (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
    switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        // After a move by the third digit the user's own dot is still to
        // come: it closes the field that was left, not this one.
        if (!enteredByDigit && !field->text().isEmpty() && index < last)
            FocusField(index + 1, true);
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (backwards && index > 0 &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            LeaveBackwards();
            return true;
        }
        break;
    case Qt::Key_Backspace:
        if (field->cursorPosition() == 0 && !field->hasSelectedText() && index > 0) {
            FocusField(index - 1, false);
            return true;
        }
        break;
    case Qt::Key_Left:
        if (field->cursorPosition() == 0 && !field->hasSelectedText() && index > 0) {
            FocusField(index - 1, false);
            return true;
        }
        break;
    case Qt::Key_Right:
        if (field->cursorPosition() == field->text().size() && index < last) {
            FocusField(index + 1, true);
            return true;
        }
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

void CIPAddressCtrl::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    LayOut();
}

void CIPAddressCtrl::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) UpdateBackground();
}

void CIPAddressCtrl::UpdateBackground() {
    // Looks like an edit: the base colour when enabled, the window colour when not.
    QPalette p = palette();
    p.setColor(QPalette::Window,
               p.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    setPalette(p);
}

void CIPAddressCtrl::LayOut() {
    const QRect area = contentsRect();
    const int dotWidth = fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2;
    const int fieldWidth = (area.width() - dotWidth * 3) / 4;
    int x = area.left();
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        m_fields[i]->setGeometry(x, area.top(), fieldWidth, area.height());
        x += fieldWidth;
        if (i < m_dots.size()) {
            m_dots[i]->setGeometry(x, area.top(), dotWidth, area.height());
            x += dotWidth;
        }
    }
}
