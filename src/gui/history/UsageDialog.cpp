#include "gui/history/UsageDialog.h"
#include "gui/framework/BusyBar.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include "core/base/CsvField.h"
#include "core/base/WaitCursor.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/MonitorText.h"
#include "gui/history/HistoryGridModel.h"
#include "gui/history/HistoryQueryRunner.h"

namespace {

enum PeriodChoice { PerDay, PerMonth };
enum SplitChoice { PerUser, PerUserAndServer };
constexpr int SortRole = Qt::UserRole;

// Sorts by the number behind the text where there is one (the time's seconds).
class UsageItem : public QTableWidgetItem {
public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant mine = data(SortRole);
        const QVariant theirs = other.data(SortRole);
        if (mine.isValid() && theirs.isValid()) return mine.toLongLong() < theirs.toLongLong();
        return QTableWidgetItem::operator<(other);
    }
};

QTableWidgetItem* TextItem(const QString& text) {
    return new UsageItem(text);
}

QTableWidgetItem* NumberItem(qulonglong value) {
    auto* item = new UsageItem;
    item->setData(Qt::DisplayRole, value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QTableWidgetItem* TimeItem(int64_t seconds) {
    auto* item = new UsageItem(UsageDialog::TimeText(seconds));
    item->setData(SortRole, qlonglong(seconds));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QDate UtcDate(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()).date();
}

int64_t UtcMidnight(const QDate& date) {
    return QDateTime(date, QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
}

}  // namespace

UsageDialog::UsageDialog(const QString& path, const HistoryRange& range, const QString& filterText,
                         QWidget* parent)
    : QDialog(parent),
      m_pRunner(std::make_unique<HistoryQueryRunner>(path)),
      m_Range(range),
      m_FilterText(filterText.trimmed()) {
    setWindowTitle(QStringLiteral("Usage"));
    QWidget* choices = BuildChoices();
    BuildTable();
    auto* note = new QLabel(
        QStringLiteral("%1. Days and months are UTC calendar days and months of each "
                       "connection's end; Time is the sum of the connections' durations.")
            .arg(ScopeText()),
        this);
    note->setWordWrap(true);
    m_pBusy = NewBusyBar(this);
    m_pStatus = new QLabel(this);
    m_pExport = new QPushButton(QStringLiteral("&Export CSV..."), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_pExport, QDialogButtonBox::ActionRole);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pStatus, 1);
    bottom->addWidget(m_pBusy);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(choices);
    layout->addWidget(note);
    layout->addWidget(m_pTable, 1);
    layout->addLayout(bottom);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pExport, &QPushButton::clicked, this, [this] { AskExport(); });
    resize(820, 520);
    Reload();
}

UsageDialog::~UsageDialog() {
    // The query thread ends first: no answer may reach a dialog that is gone.
    m_pRunner.reset();
}

// The dates, what a row counts, and what it is counted for.
QWidget* UsageDialog::BuildChoices() {
    auto* box = new QWidget(this);
    m_pFrom = new QDateEdit(UtcDate(m_Range.m_From), box);
    m_pTo = new QDateEdit(UtcDate(std::max(m_Range.m_From, m_Range.m_To - 1)), box);
    for (QDateEdit* edit : {m_pFrom, m_pTo}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        // Counted once a date is complete, not at every digit typed.
        edit->setKeyboardTracking(false);
        connect(edit, &QDateEdit::dateChanged, this, [this] { Reload(); });
    }
    m_pPeriod = new QComboBox(box);
    m_pPeriod->addItems({QStringLiteral("Per day"), QStringLiteral("Per month")});
    m_pSplit = new QComboBox(box);
    m_pSplit->addItems({QStringLiteral("Per user"), QStringLiteral("Per user and server")});
    // Users of different servers are different people: split unless there is one server.
    m_pSplit->setCurrentIndex(m_Range.m_Servers.size() == 1 ? PerUser : PerUserAndServer);
    for (QComboBox* choice : {m_pPeriod, m_pSplit})
        connect(choice, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("From:"), box));
    row->addWidget(m_pFrom);
    row->addWidget(new QLabel(QStringLiteral("To:"), box));
    row->addWidget(m_pTo);
    row->addSpacing(12);
    row->addWidget(m_pPeriod);
    row->addWidget(m_pSplit);
    row->addStretch(1);
    return box;
}

void UsageDialog::BuildTable() {
    m_pTable = new QTableWidget(0, ColumnCount, this);
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("Period"), QStringLiteral("Server"),
                                         QStringLiteral("User"), QStringLiteral("Connections"),
                                         QStringLiteral("In"), QStringLiteral("Out"),
                                         QStringLiteral("Total"), QStringLiteral("Time")});
    m_pTable->verticalHeader()->hide();
    m_pTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setWordWrap(false);
    m_pTable->horizontalHeader()->setSectionResizeMode(ColUser, QHeaderView::Stretch);
    m_pTable->horizontalHeader()->setSortIndicator(ColPeriod, Qt::AscendingOrder);
    m_pTable->setSortingEnabled(true);
}

// Which connections are counted: the History window's servers and filter.
QString UsageDialog::ScopeText() const {
    QStringList servers;
    for (const std::string& server : m_Range.m_Servers) servers << MonitorText(server);
    QString scope = servers.isEmpty() ? QStringLiteral("All servers") : servers.join(", ");
    // A malformed filter is not used, by the History window either.
    if (m_FilterText.isEmpty() || !m_Range.m_Filter.m_Error.empty()) return scope;
    return scope + QStringLiteral(", connections matching \"%1\"").arg(m_FilterText);
}

QString UsageDialog::StatusText() const {
    return m_pStatus->text();
}

QString UsageDialog::TimeText(int64_t seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// The whole days from the first date's midnight (UTC) to the end of the last date.
bool UsageDialog::ChosenRange(HistoryRange& range) const {
    if (m_pTo->date() < m_pFrom->date()) return false;
    range = m_Range;
    range.m_From = UtcMidnight(m_pFrom->date());
    range.m_To = UtcMidnight(m_pTo->date().addDays(1));
    return true;
}

void UsageDialog::Reload() {
    ++m_Generation;
    HistoryRange range;
    if (!ChosenRange(range)) {
        m_pTable->setRowCount(0);
        m_pStatus->setText(QStringLiteral("The range ends before it begins."));
        return;
    }
    const bool perMonth = m_pPeriod->currentIndex() == PerMonth;
    const bool perServer = m_pSplit->currentIndex() == PerUserAndServer;
    if (m_Pending++ == 0) {
        m_pBusy->show();
        m_pExport->setEnabled(false);
    }
    m_pStatus->setText(QStringLiteral("Counting\u2026"));
    const int generation = m_Generation;
    m_pRunner->Run([this, range, perMonth, perServer, generation](HistoryQuery& query) {
        auto rows = std::make_shared<std::vector<HistoryUsage>>();
        QString error;
        try {
            if (query.IsOpen()) *rows = query.Usage(range, perMonth, perServer);
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, rows, perServer, generation, error] {
                if (generation == m_Generation) {
                    ShowRows(*rows, perServer);
                    if (!error.isEmpty())
                        m_pStatus->setText(
                            QStringLiteral("The history cannot be read: %1").arg(error));
                }
                Finished();
            },
            Qt::QueuedConnection);
    });
}

void UsageDialog::ShowRows(const std::vector<HistoryUsage>& rows, bool perServer) {
    m_pTable->setSortingEnabled(false);
    m_pTable->setRowCount(int(rows.size()));
    int64_t connections = 0;
    for (int row = 0; row < int(rows.size()); ++row) {
        const HistoryUsage& usage = rows[size_t(row)];
        QTableWidgetItem* const items[ColumnCount] = {
            TextItem(QString::fromStdString(usage.m_Period)),
            TextItem(MonitorText(usage.m_Server)),
            TextItem(HistoryGridModel::UserText(usage.m_User)),
            NumberItem(qulonglong(usage.m_Connections)),
            NumberItem(usage.m_In),
            NumberItem(usage.m_Out),
            NumberItem(usage.m_In + usage.m_Out),
            TimeItem(usage.m_Seconds)};
        for (int column = 0; column < ColumnCount; ++column)
            m_pTable->setItem(row, column, items[column]);
        connections += usage.m_Connections;
    }
    m_pTable->setColumnHidden(ColServer, !perServer);
    m_pTable->setSortingEnabled(true);  // sorts again by the column chosen
    m_pTable->resizeColumnsToContents();
    if (rows.empty()) {
        m_pStatus->setText(QStringLiteral("No connection ended in this range."));
        return;
    }
    m_pStatus->setText(QStringLiteral("%1 %2, %3 %4")
                           .arg(rows.size())
                           .arg(rows.size() == 1 ? "row" : "rows")
                           .arg(connections)
                           .arg(connections == 1 ? "connection" : "connections"));
}

void UsageDialog::Finished() {
    if (--m_Pending > 0) return;
    m_pBusy->hide();
    m_pExport->setEnabled(true);
    emit idle();
}

void UsageDialog::AskExport() {
    const QString name =
        GWGetSaveFileName(this, QStringLiteral("Export Usage"), QStringLiteral("CSV Files (*.csv)"),
                          QStringLiteral("history-usage.csv"));
    if (!name.isEmpty()) ExportCsv(name);
}

bool UsageDialog::ExportCsv(const QString& fileName) {
    GWWaitCursor wait;
    std::vector<int> columns;
    for (int column = 0; column < ColumnCount; ++column) {
        if (!m_pTable->isColumnHidden(column)) columns.push_back(column);
    }
    std::vector<std::string> fields;
    for (int column : columns)
        fields.push_back(m_pTable->horizontalHeaderItem(column)->text().toStdString());
    std::string csv = CsvLine(fields, CsvQuoting::WhenNeeded);
    for (int row = 0; row < m_pTable->rowCount(); ++row) {
        fields.clear();
        for (int column : columns)
            fields.push_back(m_pTable->item(row, column)->text().toUtf8().toStdString());
        csv += CsvLine(fields, CsvQuoting::WhenNeeded);
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(csv.data(), qint64(csv.size())) != qint64(csv.size()) || !file.commit()) {
        GWMessageBox(QStringLiteral("The usage could not be exported to %1: %2")
                         .arg(fileName, file.errorString()),
                     this);
        return false;
    }
    m_pStatus->setText(
        QStringLiteral("Exported %1 rows to %2").arg(m_pTable->rowCount()).arg(fileName));
    return true;
}
