#include "ui/combo_box.h"

CComboBox::CComboBox(QWidget* parent) : QComboBox(parent) {}

void CComboBox::showPopup() {
    emit popupAboutToShow();
    QComboBox::showPopup();
}

void CComboBox::hidePopup() {
    QComboBox::hidePopup();
    emit popupHidden();
}
