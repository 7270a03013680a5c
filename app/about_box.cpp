#include "app/about_box.h"

#include "res/resource.h"

CAboutBox::CAboutBox(QWidget* parent) : CDialog(IDD_ABOUTBOX, parent) {}
