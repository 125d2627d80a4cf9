#pragma once
// Asks before VGL acts on a server: says what will happen, to what and for
// how long, and gives the requests to send once the user agrees. Closing
// names the connections; a block may be edited (a client's address widened
// to its network), given a duration and a note, and may close the open
// connections it covers at once.

#include <QDialog>
#include <QString>
#include <vector>

#include "core/monitor/MonControl.h"
#include "core/view/ControlTargets.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ControlConfirmDlg : public QDialog {
    Q_OBJECT
public:
    // `what`: Close for closing, else the kind of block; `server` as the
    // session names it.
    ControlConfirmDlg(MonControlOp op, MonBlockWhat what, const ControlTargets& targets,
                      const QString& server, QWidget* parent = nullptr);

    // What to send, one request per connection or blocked value.
    std::vector<MonControlRequest> Requests() const;
    // The durations offered, in seconds (0: until lifted), and the one chosen.
    static const std::vector<std::pair<uint32_t, const char*>>& Durations();

    QLabel* Summary() const { return m_pSummary; }
    QLineEdit* ValueEdit() const { return m_pValue; }
    QComboBox* DurationBox() const { return m_pDuration; }
    QCheckBox* CloseOpenBox() const { return m_pCloseOpen; }
    QPushButton* ActButton() const { return m_pAct; }

private:
    void BuildClose();
    void BuildBlock();
    void UpdateSummary();
    std::vector<std::string> Values() const;

    MonControlOp m_Op;
    MonBlockWhat m_What;
    ControlTargets m_Targets;
    QString m_Server;
    QLabel* m_pSummary = nullptr;
    QLabel* m_pProblem = nullptr;
    QLineEdit* m_pValue = nullptr;  // a block of one value only
    QComboBox* m_pDuration = nullptr;
    QCheckBox* m_pCloseOpen = nullptr;
    QLineEdit* m_pNote = nullptr;
    QPushButton* m_pAct = nullptr;
};
