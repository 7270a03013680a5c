#pragma once
// A dialog built on a dialog template: fixed size, a caption and a close
// button but no minimise or maximise button. Button 1 runs OnOK, button 2
// and the Esc key and the close button run OnCancel.

#include <QDialog>

#include "ui/data_exchange.h"
#include "ui/dialog_template.h"

class CDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    ~CDialog() override;

    // Creates the controls, runs OnInitDialog and runs the dialog modally;
    // returns the result given to EndDialog.
    int DoModal();
    // The same without the modal loop: the dialog is shown and this returns.
    bool CreateModeless();

    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int result);

    bool UpdateData(bool saveAndValidate = true);
    QWidget* GetDlgItem(int id) const { return m_controls.Item(id); }
    template <class T>
    T* Item(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    const DialogBaseUnits& Units() const { return m_controls.Units(); }

    void accept() override;
    void reject() override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

private:
    void EnsureCreated();

    const DialogTemplate& m_template;
    DialogControls m_controls;
    bool m_initialised = false;
};
