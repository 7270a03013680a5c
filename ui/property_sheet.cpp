#include "ui/property_sheet.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>

#include "ui/dialog_units.h"
#include "ui/property_page.h"

namespace {
// The sheet's font, then smaller sizes tried when the pages do not fit.
constexpr double kSheetPoints[] = {8.0, 7.5, 7.0, 6.5, 6.0};
constexpr int kMarginDlu = 4;       // around the tab control
constexpr int kPaneFramePixels = 2;  // the tab pane's frame, each side
}  // namespace

CPropertySheet::CPropertySheet(const QString& caption, QWidget* parent, int startPage)
    : QWidget(parent), m_tabs(new QTabWidget(this)), m_pageFont(DialogFont(kSheetPoints[0])),
      m_nStartPage(startPage) {
    setWindowTitle(caption);
}

CPropertySheet::~CPropertySheet() { DetachPages(); }

void CPropertySheet::DetachPages() {
    disconnect(m_tabs, nullptr, this, nullptr);
    m_tabs->tabBar()->removeEventFilter(this);
    qApp->removeEventFilter(this);
    m_pages.clear();
    m_active = -1;
}

void CPropertySheet::AddPage(CPropertyPage* page) { m_pages.push_back(page); }

CPropertyPage* CPropertySheet::GetPage(int index) const {
    if (index < 0 || index >= GetPageCount()) return nullptr;
    return m_pages[static_cast<std::size_t>(index)];
}

bool CPropertySheet::Create(QWidget* parent) {
    if (m_created) return true;
    setParent(parent);
    {
        const QSignalBlocker quiet(m_tabs);
        for (CPropertyPage* page : m_pages) m_tabs->addTab(page, page->Caption());
    }
    m_tabs->tabBar()->installEventFilter(this);
    // The page keys must reach the sheet before the control that has the
    // focus: a combo box would take Ctrl+PgUp as a move in its list.
    qApp->installEventFilter(this);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CPropertySheet::OnCurrentChanged);
    m_created = true;
    FitPages();
    const int start = (m_nStartPage >= 0 && m_nStartPage < GetPageCount()) ? m_nStartPage : 0;
    {
        const QSignalBlocker quiet(m_tabs);
        m_tabs->setCurrentIndex(start);
    }
    show();
    EnterPage(start, false);
    return true;
}

void CPropertySheet::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_created) FitPages();
}

void CPropertySheet::FitPages() {
    QFont font;
    QRect tabsRect;
    for (const double points : kSheetPoints) {
        font = DialogFont(points);
        const DialogBaseUnits units = BaseUnitsOf(font);
        const int mx = MulDiv(kMarginDlu, units.cx, 4);
        const int my = MulDiv(kMarginDlu, units.cy, 8);
        tabsRect = rect().adjusted(mx, my, -mx, -my);
        m_tabs->setFont(font);
        const int barHeight = m_tabs->tabBar()->sizeHint().height();
        const QSize area(tabsRect.width() - 2 * kPaneFramePixels,
                         tabsRect.height() - barHeight - 2 * kPaneFramePixels);
        bool fits = true;
        for (CPropertyPage* page : m_pages) {
            const QSize need = page->TemplateSizeFor(font);
            fits = fits && need.width() <= area.width() && need.height() <= area.height();
        }
        if (fits) break;
    }
    m_tabs->setGeometry(tabsRect);
    m_pageFont = font;
    for (CPropertyPage* page : m_pages) page->SetDialogFont(font);
}

bool CPropertySheet::SetActivePage(int index) {
    if (!m_created || GetPage(index) == nullptr) return false;
    if (index == m_active) return true;
    if (!LeaveActivePage()) return false;
    m_approved = index;
    m_tabs->setCurrentIndex(index);
    m_approved = -1;
    return m_active == index;
}

int CPropertySheet::NeighbourPage(int step, bool wrap) const {
    const int count = m_tabs->count();
    int index = m_active;
    for (int pass = 1; pass < count; ++pass) {
        index += step;
        if (wrap)
            index = (index + count) % count;
        else if (index < 0 || index >= count)
            return -1;
        if (m_tabs->isTabEnabled(index)) return index;
    }
    return -1;
}

bool CPropertySheet::LeaveActivePage() {
    CPropertyPage* page = GetActivePage();
    return page == nullptr || !page->HasWindow() || page->OnKillActive();
}

void CPropertySheet::EnterPage(int index, bool focusPage) {
    CPropertyPage* page = GetPage(index);
    m_active = index;
    if (page == nullptr) return;
    page->Create();
    page->OnSetActive();
    if (focusPage) {
        if (QWidget* first = page->FirstTabStop()) first->setFocus(Qt::TabFocusReason);
    }
}

void CPropertySheet::OnCurrentChanged(int index) {
    const bool approved = m_approved == index;
    m_approved = -1;
    if (index == m_active || GetPage(index) == nullptr) return;
    if (!approved && !LeaveActivePage()) {
        // The active page stays: back to its tab, unseen by our own handler.
        const QSignalBlocker quiet(m_tabs);
        m_tabs->setCurrentIndex(m_active);
        return;
    }
    // The focus moves into the new page unless the tabs hold it or one of
    // the page's controls has it already; the page itself takes no keys.
    QWidget* focus = QApplication::focusWidget();
    CPropertyPage* page = GetPage(index);
    const bool focusPage = focus != m_tabs->tabBar() &&
                           !(focus != nullptr && focus != page && page->isAncestorOf(focus));
    EnterPage(index, focusPage);
}

int CPropertySheet::PageStep(QObject* watched, QEvent* event) const {
    if (event->type() == QEvent::Wheel && watched == m_tabs->tabBar()) {
        const QPoint delta = static_cast<QWheelEvent*>(event)->angleDelta();
        const int turn = delta.y() != 0 ? delta.y() : delta.x();
        return turn > 0 ? -1 : (turn < 0 ? 1 : 0);
    }
    if (event->type() != QEvent::KeyPress) return 0;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !m_tabs->isAncestorOf(widget)) return 0;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    if (widget == m_tabs->tabBar() && !(mods & (Qt::ControlModifier | Qt::AltModifier))) {
        if (key->key() == Qt::Key_Left) return isRightToLeft() ? 1 : -1;
        if (key->key() == Qt::Key_Right) return isRightToLeft() ? -1 : 1;
        return 0;
    }
    if (!(mods & Qt::ControlModifier) || (mods & Qt::AltModifier)) return 0;
    switch (key->key()) {
    case Qt::Key_Tab:
        return (mods & Qt::ShiftModifier) ? -1 : 1;
    case Qt::Key_Backtab:
    case Qt::Key_PageUp:
        return -1;
    case Qt::Key_PageDown:
        return 1;
    default:
        return 0;
    }
}

bool CPropertySheet::eventFilter(QObject* watched, QEvent* event) {
    if (!m_created || m_pages.empty()) return QWidget::eventFilter(watched, event);
    // Keys and the wheel turn the pages round the ends only with Ctrl, as the
    // tab control's own arrow keys stop at the first and the last tab.
    if (const int step = PageStep(watched, event); step != 0) {
        const bool withCtrl = event->type() == QEvent::KeyPress &&
                              (static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier);
        const int index = NeighbourPage(step, withCtrl);
        if (index >= 0) SetActivePage(index);
        return true;
    }
    // A click on another tab asks the active page first, so that a refusal
    // leaves the tabs as they were.
    if (watched == m_tabs->tabBar() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int index = m_tabs->tabBar()->tabAt(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && index >= 0 && index != m_active) {
            if (!LeaveActivePage()) return true;
            m_approved = index;
        }
    }
    return QWidget::eventFilter(watched, event);
}
