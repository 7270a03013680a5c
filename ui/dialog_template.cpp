#include "ui/dialog_template.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <algorithm>

#include "res/resource.h"
#include "ui/combo_box.h"
#include "ui/ip_address_ctrl.h"

static void InitResources() { Q_INIT_RESOURCE(vornic); }

QIcon LoadAppIcon() {
    static const bool initialised = (InitResources(), true);
    (void)initialised;
    return QIcon(QStringLiteral(":/res/icon_128.png"));
}

namespace {

constexpr int kIconPixels = 32;  // a static icon shows the system's large icon size

QWidget* CreateWidget(QWidget* owner, const ControlTemplate& control) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, owner);
        if (control.kind == ControlKind::DefPushButton) button->setDefault(true);
        return button;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, owner);
        edit->setFrame((control.style & ctl::kBorder) != 0);
        if (control.style & ctl::kNumber) {
            static const QRegularExpression digits(QStringLiteral("[0-9]*"));
            edit->setValidator(new QRegularExpressionValidator(digits, edit));
        }
        return edit;
    }
    case ControlKind::Static: {
        auto* label = new QLabel(text, owner);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(((control.style & ctl::kCenter) ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignTop);
        return label;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(owner);
        label->setPixmap(LoadAppIcon().pixmap(kIconPixels, kIconPixels));
        return label;
    }
    case ControlKind::AutoRadioButton:
        return new QRadioButton(text, owner);
    case ControlKind::DropDownList:
        return new CComboBox(owner);
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(owner);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        return bar;
    }
    case ControlKind::IPAddress:
        return new CIPAddressCtrl(owner);
    }
    return nullptr;
}

}  // namespace

void DialogControls::Place(QWidget* widget, const ControlTemplate& control) const {
    const QRect rect = MapDialogRect(m_units, control.x, control.y, control.cx, control.cy);
    if (control.kind == ControlKind::Icon) {
        // A static icon takes the icon's size, whatever the template says.
        widget->setGeometry(rect.left(), rect.top(), kIconPixels, kIconPixels);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        // The template's height is that of the dropped list; the closed box
        // is as high as its font makes it.
        const int boxHeight = combo->sizeHint().height();
        combo->setGeometry(rect.left(), rect.top(), rect.width(), boxHeight);
        const int itemHeight = std::max(1, m_units.cy + 2);
        combo->setMaxVisibleItems(std::max(1, (rect.height() - boxHeight) / itemHeight));
    } else {
        widget->setGeometry(rect);
    }
}

QSize DialogControls::Build(QWidget* owner, const DialogTemplate& dialog, const QFont& font) {
    owner->setFont(font);
    m_units = BaseUnitsOf(font);
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = CreateWidget(owner, control);
        const bool interactive = control.kind != ControlKind::Static &&
                                 control.kind != ControlKind::Icon &&
                                 control.kind != ControlKind::ProgressBar &&
                                 control.kind != ControlKind::IPAddress;
        if (interactive)
            widget->setFocusPolicy((control.style & ctl::kTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
        widget->setEnabled((control.style & ctl::kDisabled) == 0);
        widget->setVisible((control.style & ctl::kVisible) != 0);
        if (control.id != IDC_STATIC) m_byId[control.id] = widget;
        m_all.push_back(widget);
        Place(widget, control);
    }
    m_built = true;
    return MapDialogRect(m_units, 0, 0, dialog.cx, dialog.cy).size();
}

QSize DialogControls::Relayout(QWidget* owner, const DialogTemplate& dialog, const QFont& font) {
    owner->setFont(font);
    m_units = BaseUnitsOf(font);
    for (std::size_t i = 0; i < m_all.size() && i < dialog.controls.size(); ++i)
        Place(m_all[i], dialog.controls[i]);
    return MapDialogRect(m_units, 0, 0, dialog.cx, dialog.cy).size();
}

QWidget* DialogControls::Item(int id) const {
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : it->second;
}
