#pragma once
// View > Alerts: what the rules fired, newest first (time, rule, server,
// what), and the Rules button for the Alerts dialog. A double-click on a line
// opens the server's tab with its grid filtered to the connections behind
// the alert (or History, once the session is closed). Seeing the list reads
// the alerts. One per program.

#include <QWidget>

struct AlertFiring;
class QLabel;
class QTableWidget;

class AlertsWindow : public QWidget {
    Q_OBJECT
public:
    explicit AlertsWindow(QWidget* parent = nullptr);

    static AlertsWindow* ShowWindow(QWidget* owner = nullptr);

    QTableWidget* List() const { return m_pList; }
    // Opens the connections behind the alert of this line in its session's
    // grid; false when its server has no open session any more, and the
    // History window shows them instead.
    bool OpenLine(int row);
    QString StatusText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Fill();
    void Add(const AlertFiring& firing);

    QTableWidget* m_pList = nullptr;
    QLabel* m_pStatus = nullptr;
};
