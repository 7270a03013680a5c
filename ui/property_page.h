#pragma once
// A page of a property sheet, built on a dialog template. The page object
// lives as long as its sheet; its controls (its "window") are created the
// first time the sheet shows it.

#include <QWidget>

#include "res/dialogs.h"
#include "ui/data_exchange.h"
#include "ui/dialog_template.h"

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(int templateId);
    ~CPropertyPage() override;

    // The controls exist.
    bool HasWindow() const { return m_controls.IsBuilt(); }
    // Creates the controls and runs OnInitDialog; the sheet calls it once.
    bool Create();

    virtual bool OnInitDialog();
    // Every time the page becomes the active page, the first time too.
    virtual bool OnSetActive();
    // Before another page becomes active; false keeps this page active.
    virtual bool OnKillActive();

    // true: controls to members; false when a control's text is refused.
    bool UpdateData(bool saveAndValidate = true);

    // Pages take the font of their sheet, not the one of their template.
    void SetDialogFont(const QFont& font);

    QString Caption() const;
    const DialogTemplate& Template() const { return m_template; }
    QSize TemplateSize() const { return m_templateSize; }
    QSize TemplateSizeFor(const QFont& font) const;
    QWidget* GetDlgItem(int id) const { return m_controls.Item(id); }
    template <class T>
    T* Item(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    // The first enabled, visible control that Tab stops at.
    QWidget* FirstTabStop() const;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

private:
    const DialogTemplate& m_template;
    DialogControls m_controls;
    QFont m_font;
    QSize m_templateSize;
};
