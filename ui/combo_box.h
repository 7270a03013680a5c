#pragma once
// The drop-down list of the dialogs: a combo box that says when its list is
// about to drop down and when it has closed, so that a page can refresh the
// entries just before the user sees them.

#include <QComboBox>

class CComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBox(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void popupAboutToShow();
    void popupHidden();
};
