#include "ui/property_sheet.h"

#include <QApplication>
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
    m_tabs->setCurrentIndex(index);
    return m_active == index;
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
    // The focus moves into the new page unless the tabs hold it or it is
    // there already.
    QWidget* focus = QApplication::focusWidget();
    const bool focusPage = focus != m_tabs->tabBar() &&
                           !(focus != nullptr && GetPage(index)->isAncestorOf(focus));
    EnterPage(index, focusPage);
}

bool CPropertySheet::eventFilter(QObject* watched, QEvent* event) {
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
