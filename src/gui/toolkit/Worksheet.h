#pragma once
// A document frame of a Workbook. It registers itself with the workbook,
// which gives it a tab; the tab's icon is the icon with the frame's own
// resource number, its label the frame's TabLabel. Otherwise it is an
// ordinary multiple-document child window.

#include <QIcon>
#include <QMdiSubWindow>
#include <QString>

class Workbook;

class Worksheet : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit Worksheet(int resourceId, QWidget* parent = nullptr);
    ~Worksheet() override;

    int ResourceId() const { return m_nResourceId; }
    const QIcon& TabIcon() const { return m_TabIcon; }
    // The text of the tab; the window title unless a derived frame says otherwise.
    virtual QString TabLabel() const;
    // The tip shown over the tab; none unless a derived frame gives one.
    virtual QString TabToolTip() const { return QString(); }

    // Adds the frame to the workbook's documents' area and gives it a tab.
    void RegisterWith(Workbook& workbook);
    Workbook* GetWorkbook() const { return m_pWorkbook; }

    // Three quarters of the documents' area, so that a cascaded frame is
    // large enough to read.
    QSize sizeHint() const override;

signals:
    void tabChanged();  // the label or icon changed: the tab is drawn again

protected:
    bool event(QEvent* event) override;

private:
    int m_nResourceId;
    QIcon m_TabIcon;
    Workbook* m_pWorkbook = nullptr;
};
