#pragma once
// The Alerts dialog: the rules, each edited in place (its name, what it
// watches, the threshold in the unit that suits it, the period, the filter
// line), the quiet interval after a notification and whether closing the
// window keeps the program in the tray. OK keeps them with the options; a
// rule that cannot be kept is named and nothing is lost.

#include <QDialog>
#include <vector>

#include "core/alert/AlertRule.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;

class AlertsDialog : public QDialog {
    Q_OBJECT
public:
    explicit AlertsDialog(QWidget* parent = nullptr);

    const std::vector<AlertRule>& Rules() const { return m_Rules; }
    QListWidget* RuleList() const { return m_pList; }
    QComboBox* KindBox() const { return m_pKind; }
    QLineEdit* NameEdit() const { return m_pName; }
    QDoubleSpinBox* ThresholdBox() const { return m_pThreshold; }
    QSpinBox* MinutesBox() const { return m_pMinutes; }
    QLineEdit* FilterEdit() const { return m_pFilter; }
    QSpinBox* QuietBox() const { return m_pQuiet; }
    QCheckBox* CloseToTrayBox() const { return m_pCloseToTray; }
    void AddRule();
    void RemoveRule();
    void accept() override;

private:
    QWidget* BuildEditor();
    void ShowRule(int row);
    void TakeEdits();
    void SuitKind();
    static double Unit(AlertKind kind);

    std::vector<AlertRule> m_Rules;
    int m_Current = -1;
    bool m_bShowing = false;
    QListWidget* m_pList = nullptr;
    QLineEdit* m_pName = nullptr;
    QComboBox* m_pKind = nullptr;
    QCheckBox* m_pEnabled = nullptr;
    QDoubleSpinBox* m_pThreshold = nullptr;
    QLabel* m_pThresholdUnit = nullptr;
    QSpinBox* m_pMinutes = nullptr;
    QCheckBox* m_pPerClient = nullptr;
    QComboBox* m_pPeriod = nullptr;  // the quota's day or month
    QLineEdit* m_pFilter = nullptr;
    QLabel* m_pDescription = nullptr;
    QSpinBox* m_pQuiet = nullptr;
    QCheckBox* m_pCloseToTray = nullptr;
};
