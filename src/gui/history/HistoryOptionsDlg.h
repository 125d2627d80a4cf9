#pragma once
// The history's settings: recording on or off, how many days and how many
// MiB to keep, and clearing everything recorded (after a confirmation). OK
// applies and keeps them.

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSpinBox;

class HistoryOptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit HistoryOptionsDlg(QWidget* parent = nullptr);

    void accept() override;
    // Asks first; true when the history was cleared.
    bool ClearHistory();

    QCheckBox* RecordBox() const { return m_pRecord; }
    QSpinBox* DaysBox() const { return m_pDays; }
    QSpinBox* SizeBox() const { return m_pSize; }
    QPushButton* ClearButton() const { return m_pClear; }

private:
    QCheckBox* m_pRecord;
    QSpinBox* m_pDays;
    QSpinBox* m_pSize;
    QPushButton* m_pClear;
};
