#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <mutex>

#include "platform/module_path.h"
#include "res/resource.h"
#include "ui/ui_call.h"

namespace {

std::mutex g_hookLock;
MessageBoxHook g_hook;

QMessageBox::Icon IconOf(unsigned type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::Warning;
    }
}

int ShowOnUiThread(const std::string& text, unsigned type) {
    if ((type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_hook;
    }
    if (hook) return hook(text, type);

    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) owner = QApplication::activeWindow();
    QMessageBox box(IconOf(type), QString::fromStdString(platform::ExecutableTitle()),
                    QString::fromStdString(text), QMessageBox::Ok, owner);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return IDOK;
}

}  // namespace

int AfxMessageBox(const std::string& text, unsigned type) {
    int result = IDOK;
    SendToUiThread([&] { result = ShowOnUiThread(text, type); });
    return result;
}

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_hook = std::move(hook);
}
