#pragma once
// The "Data " page of the options sheet: host names or addresses, the unit
// of the traffic columns, the seconds between two polls of the monitor, and
// how many connections the session keeps.

#include <cstdint>

#include "core/base/SessionLimits.h"

#include "gui/options/OptionPage.h"

class CVGLDoc;
class PMCTable;
class QLineEdit;
class QRadioButton;
class SpinButton;

class OptionDataDlg : public OptionPage {
    Q_OBJECT
public:
    explicit OptionDataDlg(QWidget* parent = nullptr);

    // Where host form, unit and limit are read; the document applies them.
    void SetTable(const PMCTable* table);
    void SetDocument(CVGLDoc* document);
    void ApplyToSession();
    bool UpdateData() override;  // the period, 5..120, and the connections, 1..100,000

    // Handlers of the page's controls.
    void OnHostForm(int32_t hostForm);
    void OnDataUnit(int32_t dataUnit);
    void OnPeriodStep(int direction);

    int32_t UpdatePeriod() const { return m_UpdatePeriod; }
    int32_t HostForm() const { return m_HostForm; }
    int32_t DataUnit() const { return m_DataUnit; }
    int32_t ConnectionLimit() const { return m_ConnectionLimit; }

    QRadioButton* IpButton() const { return m_pIpButton; }
    QRadioButton* NameButton() const { return m_pNameButton; }
    QRadioButton* ByteButton() const { return m_pByteButton; }
    QRadioButton* KiloButton() const { return m_pKiloButton; }
    QRadioButton* MegaButton() const { return m_pMegaButton; }
    QLineEdit* PeriodEdit() const { return m_pPeriodEdit; }
    SpinButton* PeriodSpin() const { return m_pPeriodSpin; }
    QLineEdit* LimitEdit() const { return m_pLimitEdit; }

protected:
    void OnInitDialog() override;

private:
    const PMCTable* m_pTable = nullptr;
    CVGLDoc* m_pDocument = nullptr;
    int32_t m_UpdatePeriod = MinUpdatePeriod;
    int32_t m_HostForm = 0;
    int32_t m_DataUnit = 0;
    int32_t m_ConnectionLimit = DefaultConnectionLimit;

    QRadioButton* m_pIpButton;
    QRadioButton* m_pNameButton;
    QRadioButton* m_pByteButton;
    QRadioButton* m_pKiloButton;
    QRadioButton* m_pMegaButton;
    QLineEdit* m_pPeriodEdit;
    SpinButton* m_pPeriodSpin;
    QLineEdit* m_pLimitEdit;
};
