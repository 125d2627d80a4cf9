#pragma once
// A multiple-document main window whose document frames are shown as tabs.
// In workbook mode the documents' area is inset by 10 pixels on the left, top
// and right and 33 pixels at the bottom; the bottom strip shows one tab per
// document frame, in the order the frames were opened, the active frame's tab
// drawn last so that it lies on top of its neighbours. A click on a tab
// activates its frame. Derived windows draw each tab's icon and label by
// overriding DrawTab; the outline is drawn here.

#include <QFont>
#include <QIcon>
#include <QMainWindow>
#include <QPolygon>
#include <QRect>
#include <QString>
#include <vector>

class QMdiArea;
class QMdiSubWindow;
class Worksheet;
class WorkbookTabStrip;

class Workbook : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int InsetLeft = 10;
    static constexpr int InsetTop = 10;
    static constexpr int InsetRight = 10;
    static constexpr int InsetBottom = 33;
    static constexpr int TabWidth = 100;
    static constexpr int TabSlant = 8;  // the sloping sides, where neighbours overlap

    // Where one tab lies in the tab strip's coordinates.
    struct TabGeometry {
        QPolygon m_Polygon;  // the outline
        QRect m_LabelRect;   // where the icon and the label go
    };

    explicit Workbook(QWidget* parent = nullptr);
    ~Workbook() override;

    QMdiArea* MdiArea() const { return m_pMdiArea; }

    // Switches workbook mode on or off and lays the window out again.
    void SetWorkbookMode(bool on);
    bool IsWorkbookMode() const { return m_bWorkbookMode; }

    // Adds a document frame to the documents' area; it gets a tab.
    void AddWorksheet(Worksheet* sheet);
    // The document frames in the order they were opened; closed ones are left out.
    std::vector<Worksheet*> Worksheets() const;
    Worksheet* ActiveWorksheet() const;
    void ActivateWorksheet(Worksheet* sheet);

    // What DrawTab needs.
    int TabHeight() const { return m_nTabHeight; }
    const QFont& TabFont() const { return m_TabFont; }
    bool ShowsTabIcons() const { return m_bTabIcons; }
    void SetShowsTabIcons(bool on);
    QIcon TabIcon(const Worksheet* sheet) const;  // null when icons are not shown
    QString TabLabel(const Worksheet* sheet) const;
    // The geometry of a frame's tab; an empty polygon when it has none.
    TabGeometry GetTabGeometry(const Worksheet* sheet) const;
    // The frame whose tab lies under a point of the tab strip, or null.
    Worksheet* WorksheetAtTab(const QPoint& point) const;

    QWidget* TabStrip() const;
    void UpdateTabs();

protected:
    // Draws one tab's icon and label inside its outline. The painter's font
    // is the tab font, its pen the text colour; the base draws the icon at the
    // left of the label rectangle and the whole label centred in the rest.
    virtual void DrawTab(QPainter& painter, Worksheet* sheet, const TabGeometry& geometry);
    // Another frame became the active one, or a frame's caption, label or
    // state (maximised or not) changed: what a caption naming the active
    // frame depends on.
    virtual void ActiveWorksheetChanged() {}

    void showEvent(QShowEvent* event) override;

private:
    friend class WorkbookTabStrip;
    void LayoutClient();
    void PaintTabs(QPainter& painter);
    void PaintTab(QPainter& painter, Worksheet* sheet, bool active);
    int FirstTabLeft() const;

    class Client;
    Client* m_pClient = nullptr;
    QMdiArea* m_pMdiArea = nullptr;
    WorkbookTabStrip* m_pTabStrip = nullptr;
    bool m_bWorkbookMode = false;
    bool m_bTabIcons = true;
    int m_nTabHeight = 23;
    QFont m_TabFont;
};
