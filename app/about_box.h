#pragma once
// The About box: icon, product name and version, and the OK button.

#include "ui/dialog.h"

class CAboutBox : public CDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
};
