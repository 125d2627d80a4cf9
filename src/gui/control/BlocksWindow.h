#pragma once
// Socks5 > Blocks: the blocks a session's monitor keeps (what, by whom,
// since, until, why), asked for when the window opens and after every
// block or lift, with Lift for the chosen ones. One window per session, of
// its own; where the monitor keeps no blocks for this client it says why.

#include <QPointer>
#include <QWidget>
#include <vector>

#include "core/monitor/MonControl.h"

class CVGLDoc;
class QLabel;
class QPushButton;
class QTableWidget;

class BlocksWindow : public QWidget {
    Q_OBJECT
public:
    BlocksWindow(CVGLDoc* document, QWidget* owner);

    // The session's window, made at first use, brought to the front.
    static BlocksWindow* ShowFor(CVGLDoc* document, QWidget* owner);

    // Asks the monitor for its blocks again.
    void Refresh();
    // Lifts the blocks of the chosen rows, after asking.
    void LiftChosen();
    // The rows' texts come from this list.
    void Show(const std::vector<MonBlock>& blocks);

    QTableWidget* Table() const { return m_pTable; }
    QLabel* StatusLabel() const { return m_pStatus; }
    QPushButton* LiftButton() const { return m_pLift; }
    CVGLDoc* Document() const { return m_pDocument; }

private:
    void UpdateButtons();
    void SetStatus(const QString& text);

    QPointer<CVGLDoc> m_pDocument;
    std::vector<MonBlock> m_Blocks;
    QTableWidget* m_pTable = nullptr;
    QLabel* m_pStatus = nullptr;
    QPushButton* m_pLift = nullptr;
    QPushButton* m_pRefresh = nullptr;
};
