#pragma once
// A list with a check box in front of each line. A click on the box of an
// enabled line toggles it at once, when the button goes down, and then makes
// the line the selected one; so whoever follows the selection sees the new
// check state. A disabled line is drawn greyed and its box can't be changed,
// but the line can still be selected.

#include <QListWidget>

class CheckListBox : public QListWidget {
    Q_OBJECT
public:
    explicit CheckListBox(QWidget* parent = nullptr);

    void EnableLine(QListWidgetItem* line, bool enable);
    static bool IsLineEnabled(const QListWidgetItem* line);

    QRect CheckRect(int row) const;  // in viewport coordinates; empty past the end

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool ToggleAt(const QPoint& point);

    bool m_bToggledOnPress = false;  // the release of that press is ours too
};
