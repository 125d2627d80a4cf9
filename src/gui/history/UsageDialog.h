#pragma once
// History > Usage: what each user used, per UTC calendar day or month, for
// quota accounting: connections, bytes in and out and the time connected,
// per user or per user and server, over a range of dates, of the servers and
// filter the History window had chosen. The table sorts by any column and
// exports as CSV exactly as shown. The counting runs on a query thread of its
// own, so the dialog never waits for the file.

#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

#include "core/history/HistoryQuery.h"

class HistoryQueryRunner;
class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

class UsageDialog : public QDialog {
    Q_OBJECT
public:
    enum Column { ColPeriod, ColServer, ColUser, ColConnections, ColIn, ColOut, ColTotal, ColTime };
    static constexpr int ColumnCount = ColTime + 1;

    // `range` is the History window's: its dates start the dialog's, its
    // servers and filter (as typed: `filterText`) stay.
    UsageDialog(const QString& path, const HistoryRange& range, const QString& filterText,
                QWidget* parent = nullptr);
    ~UsageDialog() override;

    // Counts again for the dates and choices shown; the answer replaces the rows.
    void Reload();
    // Writes the table's visible columns and rows, in their order; the file
    // is replaced only once the new one is whole. False (and told) on failure.
    bool ExportCsv(const QString& fileName);

    // Nothing in flight: every count answered.
    bool IsIdle() const { return m_Pending == 0; }
    QDateEdit* FromEdit() const { return m_pFrom; }
    QDateEdit* ToEdit() const { return m_pTo; }
    QComboBox* PeriodBox() const { return m_pPeriod; }
    QComboBox* SplitBox() const { return m_pSplit; }
    QTableWidget* Table() const { return m_pTable; }
    QProgressBar* Busy() const { return m_pBusy; }
    QString StatusText() const;

    // "1:02:03": hours, minutes and seconds of a sum of durations.
    static QString TimeText(int64_t seconds);

signals:
    void idle();  // the last count in flight was answered

private:
    QWidget* BuildChoices();
    void BuildTable();
    QString ScopeText() const;
    bool ChosenRange(HistoryRange& range) const;
    void ShowRows(const std::vector<HistoryUsage>& rows, bool perServer);
    void Finished();
    void AskExport();

    std::unique_ptr<HistoryQueryRunner> m_pRunner;
    HistoryRange m_Range;  // the servers and filter; the dates come from the fields
    QString m_FilterText;
    QDateEdit* m_pFrom = nullptr;
    QDateEdit* m_pTo = nullptr;
    QComboBox* m_pPeriod = nullptr;
    QComboBox* m_pSplit = nullptr;
    QTableWidget* m_pTable = nullptr;
    QPushButton* m_pExport = nullptr;
    QProgressBar* m_pBusy = nullptr;
    QLabel* m_pStatus = nullptr;
    int m_Pending = 0;
    int m_Generation = 0;  // of the rows; older answers are dropped
};
