#pragma once
// A property sheet shown as a child window: a tab control with the active
// page, without buttons of its own. A page is created when it is first
// shown, and the active page may refuse to be left (OnKillActive) before any
// tab changes: a click on a tab, Ctrl+Tab and Ctrl+PgDn (forwards),
// Ctrl+Shift+Tab and Ctrl+PgUp (backwards), the arrow keys and the wheel on
// the tabs all ask it first. Pages are
// laid out in the sheet's font: "MS Shell Dlg" at 8 points, or smaller when
// the sheet's rectangle is too small for the largest page at that size.

#include <QFont>
#include <QWidget>
#include <vector>

class CPropertyPage;
class QTabWidget;

class CPropertySheet : public QWidget {
    Q_OBJECT
public:
    CPropertySheet(const QString& caption, QWidget* parent, int startPage);
    ~CPropertySheet() override;

    // Before Create: the pages in tab order.
    void AddPage(CPropertyPage* page);
    // Creates the sheet as a child of `parent` and shows the start page.
    bool Create(QWidget* parent);
    bool HasWindow() const { return m_created; }

    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* GetPage(int index) const;
    int GetActiveIndex() const { return m_active; }
    CPropertyPage* GetActivePage() const { return GetPage(m_active); }
    // The same road as a click on the tab; false when the active page refused.
    bool SetActivePage(int index);

    QTabWidget* TabControl() const { return m_tabs; }
    const QFont& PageFont() const { return m_pageFont; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The derived sheet's destructor calls it before its pages go.
    void DetachPages();

private:
    void FitPages();
    void OnCurrentChanged(int index);
    bool LeaveActivePage();
    // The nearest enabled page `step` tabs away; -1 when there is none.
    int NeighbourPage(int step, bool wrap) const;
    // A key or a wheel turn that asks for another page; 0 when it does not.
    int PageStep(QObject* watched, QEvent* event) const;
    void EnterPage(int index, bool focusPage);

    QTabWidget* m_tabs;
    std::vector<CPropertyPage*> m_pages;
    QFont m_pageFont;
    int m_nStartPage;
    int m_active = -1;
    int m_approved = -1;  // a change already cleared by the active page
    bool m_created = false;
};
