#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QTest>
#include <QPointer>

// Qt's own hooks, exported by Qt Gui and Qt Core for its test library.
Q_DECL_IMPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                                const QString& text, bool autorep, ushort count);

// QEvent lets a class of this name mark an event as coming from the system.
class QSpontaneKeyEvent {
public:
    static void setSpontaneous(QEvent* event) { event->setSpontaneous(); }
};

namespace QTest {
namespace {

ulong g_timestamp = 0;

QWidget* Receiver(QWidget* widget) {
    if (widget != nullptr) return widget;
    if (QWidget* grabber = QWidget::keyboardGrabber()) return grabber;
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->focusWidget() != nullptr ? popup->focusWidget() : popup;
    if (QWidget* focus = QApplication::focusWidget()) return focus;
    return QApplication::activeWindow();
}

QString KeyText(Qt::Key key) {
    switch (key) {
    case Qt::Key_Backspace: return QString(QChar(8));
    case Qt::Key_Tab: return QString(QChar(9));
    case Qt::Key_Return:
    case Qt::Key_Enter: return QString(QChar(13));
    case Qt::Key_Escape: return QString(QChar(27));
    case Qt::Key_Delete: return QString(QChar(127));
    default: return {};
    }
}

void SendKey(QWidget* widget, bool press, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    if (widget == nullptr) return;
    QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers, text);
    event.setTimestamp(++g_timestamp);
    QSpontaneKeyEvent::setSpontaneous(&event);
    if (press && qt_sendShortcutOverrideEvent(widget, g_timestamp, key, modifiers, text, false, 1)) return;
    QApplication::instance()->notify(widget, &event);
}

// The modifier keys go down before the key and come up after it.
constexpr struct {
    Qt::KeyboardModifier modifier;
    Qt::Key key;
} kModifierKeys[] = {{Qt::ShiftModifier, Qt::Key_Shift},
                     {Qt::ControlModifier, Qt::Key_Control},
                     {Qt::AltModifier, Qt::Key_Alt},
                     {Qt::MetaModifier, Qt::Key_Meta}};

void Click(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QPointer<QWidget> target = Receiver(widget);
    Qt::KeyboardModifiers held;
    for (const auto& m : kModifierKeys)
        if (modifiers & m.modifier) {
            SendKey(target, true, m.key, held, {});
            held |= m.modifier;
        }
    SendKey(target, true, key, modifiers, text);
    SendKey(target, false, key, modifiers, text);
    for (const auto& m : kModifierKeys)
        if (modifiers & m.modifier) {
            held &= ~m.modifier;
            SendKey(target, false, m.key, held, {});
        }
}

int CharKey(QChar c) {
    const char16_t u = c.toUpper().unicode();
    if (u >= u'A' && u <= u'Z') return Qt::Key_A + (u - u'A');
    return u;  // digits and punctuation of Latin-1 have their own code as key
}

}  // namespace

void keyClick(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers, int) {
    Click(widget, key, modifiers, KeyText(key));
}

void keyClicks(QWidget* widget, const QString& text, Qt::KeyboardModifiers modifiers, int) {
    for (QChar c : text) Click(widget, CharKey(c), modifiers, QString(c));
}

void mouseClick(QWidget* widget, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos, int) {
    QPointer<QWidget> target = widget;
    if (pos.isNull()) pos = widget->rect().center();
    const QPoint global = widget->mapToGlobal(pos);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        if (target == nullptr) return;
        QMouseEvent event(type, pos, global, button, type == QEvent::MouseButtonPress ? button : Qt::NoButton,
                          modifiers, QPointingDevice::primaryPointingDevice());
        // Far enough apart that two clicks never make a double click.
        g_timestamp += 1000;
        event.setTimestamp(g_timestamp);
        QSpontaneKeyEvent::setSpontaneous(&event);
        QApplication::instance()->notify(target, &event);
    }
}

}  // namespace QTest
