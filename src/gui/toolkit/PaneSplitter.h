#pragma once
// A splitter whose divider can also be moved by keyboard. BeginKeyboardSplit
// gives the first divider the focus and marks it; the arrow keys along the
// splitter's direction move it (Page Up/Down in larger steps), never past
// the panes' minimum sizes; Enter keeps the new place and Escape puts the
// divider back where it was. Leaving the divider any other way keeps the
// place. keyboardSplitEnded tells the owner to give the focus back.

#include <QList>
#include <QSplitter>

class PaneSplitter : public QSplitter {
    Q_OBJECT
public:
    static constexpr int KeyStep = 8;
    static constexpr int PageStep = 64;

    explicit PaneSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

    void BeginKeyboardSplit();
    bool IsKeyboardSplitting() const { return m_bTracking; }
    // The position of the first divider: the size of the first pane.
    int DividerPosition() const;

signals:
    void keyboardSplitEnded(bool kept);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MoveDivider(int delta);
    void EndKeyboardSplit(bool keep);
    void MarkHandle(bool on);

    bool m_bTracking = false;
    QList<int> m_SizesBefore;
};
