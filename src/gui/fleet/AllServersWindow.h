#pragma once
// View > All Servers: the connections of every open session in one grid, a
// Server column first, with the filter line, the count, the totals and the
// grouping of a session's grid (and grouping by server besides). Its rows
// follow each session's polls and the sessions as they open and close; it
// never polls on its own.

#include <QWidget>

class CVGLDoc;
class ConnectionPane;
class GridView;
class QComboBox;

class AllServersWindow : public QWidget {
    Q_OBJECT
public:
    explicit AllServersWindow(QWidget* parent = nullptr);
    ~AllServersWindow() override;

    // Shows the program's one such window, made at first use as a window of
    // its own that closes with `owner`.
    static AllServersWindow* ShowWindow(QWidget* owner = nullptr);

    ConnectionPane* Pane() const { return m_pPane; }
    GridView* Grid() const { return m_pGrid; }
    QComboBox* GroupByBox() const { return m_pGroupBy; }

private:
    void ShowSessions();
    void OnSessionPolled(CVGLDoc* session);
    void OnGroupByChosen(int index);
    void ShowGroupingChoice();

    GridView* m_pGrid = nullptr;
    ConnectionPane* m_pPane = nullptr;
    QComboBox* m_pGroupBy = nullptr;
};
