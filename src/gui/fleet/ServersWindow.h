#pragma once
// View > Servers: every open session in one grid, as ServersModel describes
// its rows, sorted by any column, with the grid's filter line above it. A
// double-click opens the session's tab. One per program, a window of its own.

#include <QWidget>

class CVGLDoc;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;
class QTimer;
class ServersModel;

class ServersWindow : public QWidget {
    Q_OBJECT
public:
    explicit ServersWindow(QWidget* parent = nullptr);

    // Shows the program's one Servers window, made at first use.
    static ServersWindow* ShowWindow(QWidget* owner = nullptr);

    ServersModel* Model() const { return m_pModel; }
    QTableView* Grid() const { return m_pGrid; }
    QLineEdit* FilterEdit() const { return m_pFilter; }
    QLabel* FilterError() const { return m_pError; }
    // Brings the session of this grid row to the front, in its tab.
    void OpenRow(int row);
    // The session of this grid row, in the grid's order.
    CVGLDoc* SessionOfRow(int row) const;

private:
    void ApplyFilter();

    ServersModel* m_pModel = nullptr;
    QSortFilterProxyModel* m_pSorted = nullptr;
    QTableView* m_pGrid = nullptr;
    QLineEdit* m_pFilter = nullptr;
    QLabel* m_pError = nullptr;
    QTimer* m_pClock = nullptr;
};
