#pragma once
// Builds the controls of a dialog template as child widgets: each at its
// template position and size, in template order (which Qt keeps as the tab
// order), hidden and disabled ones included.

#include <QFont>
#include <QIcon>
#include <map>
#include <vector>

#include "res/dialogs.h"
#include "ui/dialog_units.h"

class QWidget;

// Icon 128: the tool's window icon and the About box's picture.
QIcon LoadAppIcon();

class DialogControls {
public:
    // Sets `font` on `owner`, creates the controls in it and returns the
    // template's size in pixels.
    QSize Build(QWidget* owner, const DialogTemplate& dialog, const QFont& font);
    // Places the built controls again for another font.
    QSize Relayout(QWidget* owner, const DialogTemplate& dialog, const QFont& font);

    bool IsBuilt() const { return m_built; }
    QWidget* Item(int id) const;
    const std::vector<QWidget*>& All() const { return m_all; }
    const DialogBaseUnits& Units() const { return m_units; }

private:
    void Place(QWidget* widget, const ControlTemplate& control) const;

    bool m_built = false;
    DialogBaseUnits m_units{0, 0};
    std::map<int, QWidget*> m_byId;
    std::vector<QWidget*> m_all;  // in template order
};
