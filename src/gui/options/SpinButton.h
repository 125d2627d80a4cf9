#pragma once
// An up-down control bound to a text field: two small arrow buttons beside
// the field, and the Up and Down keys inside it. It does not keep a value of
// its own; each step is handed to the page, which reads and validates the
// field's text, moves its value and writes the field again.

#include <QWidget>

class QLineEdit;
class QToolButton;

class SpinButton : public QWidget {
    Q_OBJECT
public:
    explicit SpinButton(QLineEdit* buddy, QWidget* parent = nullptr);

    QToolButton* UpButton() const { return m_pUp; }
    QToolButton* DownButton() const { return m_pDown; }

signals:
    void stepped(int direction);  // +1 up, -1 down

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_pBuddy;
    QToolButton* m_pUp;
    QToolButton* m_pDown;
};
