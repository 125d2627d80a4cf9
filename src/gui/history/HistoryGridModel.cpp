#include "gui/history/HistoryGridModel.h"

#include <QDateTime>
#include <memory>

#include "core/table/EntryObj.h"
#include "gui/framework/MonitorText.h"
#include "gui/history/HistoryQueryRunner.h"

namespace {

// Pages kept; beyond this, those far from the one asked for are dropped.
constexpr size_t KeptPages = 40;

QString TimeText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString DurationText(int64_t span) {
    if (span <= 0) return QStringLiteral("0");
    return QStringLiteral("%1:%2:%3:%4")
        .arg(span / 86400)
        .arg(span % 86400 / 3600, 2, 10, QLatin1Char('0'))
        .arg(span % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(span % 60, 2, 10, QLatin1Char('0'));
}

QString HostText(const std::string& name, const std::string& address) {
    return MonitorText(!name.empty() ? name : address);
}

}  // namespace

HistoryGridModel::HistoryGridModel(HistoryQueryRunner& runner, QObject* parent)
    : QAbstractTableModel(parent), m_Runner(runner) {}

QStringList HistoryGridModel::Titles() {
    return {QStringLiteral("End"),
            QStringLiteral("Server"),
            QStringLiteral("User"),
            QStringLiteral("Source"),
            QStringLiteral("Destination"),
            QStringLiteral("Service"),
            QStringLiteral("Start"),
            QStringLiteral("Duration"),
            QStringLiteral("In"),
            QStringLiteral("Out"),
            QStringLiteral("Total"),
            QStringLiteral("Result"),
            QStringLiteral("Authentication"),
            QStringLiteral("Next Server")};
}

QString HistoryGridModel::CellText(const HistoryConnection& c, int column) {
    switch (column) {
        case HistoryQuery::ColEnd:
            return TimeText(c.m_EndTime);
        case HistoryQuery::ColServer:
            return MonitorText(c.m_Server);
        case HistoryQuery::ColUser:
            return UserText(c.m_User);
        case HistoryQuery::ColSource:
            return HostText(c.m_SourceName, c.m_SourceAddr);
        case HistoryQuery::ColDestination:
            return HostText(c.m_DestName, c.m_DestAddr);
        case HistoryQuery::ColService:
            return MonitorText(c.m_Service);
        case HistoryQuery::ColStart:
            return c.m_StartTime != 0 ? TimeText(c.m_StartTime) : QString();
        case HistoryQuery::ColDuration:
            return DurationText(c.m_StartTime != 0 ? c.m_EndTime - c.m_StartTime : 0);
        case HistoryQuery::ColIn:
            return QString::number(c.m_BytesIn);
        case HistoryQuery::ColOut:
            return QString::number(c.m_BytesOut);
        case HistoryQuery::ColTotal:
            return QString::number(c.m_BytesIn + c.m_BytesOut);
        case HistoryQuery::ColResult: {
            const QString state =
                c.m_Status == 1 ? QStringLiteral("Failed") : QStringLiteral("Closed");
            if (c.m_ResultCode == 0 && c.m_ResultText.empty()) return state;
            return QStringLiteral("%1 (%2) %3")
                .arg(state)
                .arg(c.m_ResultCode)
                .arg(MonitorText(c.m_ResultText));
        }
        case HistoryQuery::ColAuth:
            return QString::fromStdString(
                EntryObj::AuthMethodName(static_cast<uint8_t>(c.m_AuthMethod)));
        case HistoryQuery::ColNextServer:
            return MonitorText(c.m_NextServer);
        default:
            return QString();
    }
}

QString HistoryGridModel::UserText(const std::string& user) {
    return user.empty() ? QStringLiteral("(no user)") : MonitorText(user);
}

void HistoryGridModel::SetRange(const HistoryRange& range) {
    m_Range = range;
    Reload();
}

void HistoryGridModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= HistoryQuery::ColumnCount) return;
    m_SortColumn = column;
    m_bAscending = order == Qt::AscendingOrder;
    Reload();
}

// Counts first; the rows come with the pages the view then asks for.
void HistoryGridModel::Reload() {
    beginResetModel();
    ++m_Generation;
    m_Count = 0;
    m_Pages.clear();
    m_Requested.clear();
    endResetModel();
    emit countChanged(0);
    const int generation = m_Generation;
    const HistoryRange range = m_Range;
    emit queryStarted();
    m_Runner.Run([this, generation, range](HistoryQuery& query) {
        int64_t count = 0;
        QString error;
        try {
            if (query.IsOpen()) count = query.Count(range);
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        QMetaObject::invokeMethod(
            this, [this, generation, count, error] { TakeCount(generation, count, error); },
            Qt::QueuedConnection);
    });
}

void HistoryGridModel::TakeCount(int generation, int64_t count, const QString& error) {
    emit queryFinished(error);
    if (generation != m_Generation) return;
    if (count > 0) {
        beginInsertRows(QModelIndex(), 0, int(std::min<int64_t>(count, INT32_MAX)) - 1);
        m_Count = count;
        endInsertRows();
    }
    emit countChanged(m_Count);
}

void HistoryGridModel::RequestPage(int page) const {
    if (!m_Requested.insert(page).second) return;
    auto* self = const_cast<HistoryGridModel*>(this);
    const int generation = m_Generation;
    const HistoryRange range = m_Range;
    const int column = m_SortColumn;
    const bool ascending = m_bAscending;
    emit self->queryStarted();
    m_Runner.Run([self, generation, range, column, ascending, page](HistoryQuery& query) {
        std::vector<HistoryConnection> rows;
        QString error;
        try {
            if (query.IsOpen())
                rows = query.Page(range, column, ascending, int64_t{page} * PageRows, PageRows);
        } catch (const std::exception& failure) {
            error = QString::fromStdString(failure.what());
        }
        auto shared = std::make_shared<std::vector<HistoryConnection>>(std::move(rows));
        QMetaObject::invokeMethod(
            self,
            [self, generation, page, shared, error] {
                emit self->queryFinished(error);
                self->TakePage(generation, page, std::move(*shared));
            },
            Qt::QueuedConnection);
    });
}

void HistoryGridModel::TakePage(int generation, int page, std::vector<HistoryConnection> rows) {
    if (generation != m_Generation) return;
    if (m_Pages.size() >= KeptPages) {
        m_Pages.clear();
        m_Requested.clear();
        m_Requested.insert(page);
    }
    m_Pages[page] = std::move(rows);
    const int first = page * PageRows;
    const int last = std::min<int>(first + PageRows, rowCount()) - 1;
    if (last >= first)
        emit dataChanged(index(first, 0), index(last, HistoryQuery::ColumnCount - 1));
}

const HistoryConnection* HistoryGridModel::Row(int row) const {
    const int page = row / PageRows;
    auto found = m_Pages.find(page);
    if (found == m_Pages.end()) {
        RequestPage(page);
        return nullptr;
    }
    const size_t at = size_t(row % PageRows);
    return at < found->second.size() ? &found->second[at] : nullptr;
}

int HistoryGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(std::min<int64_t>(m_Count, INT32_MAX));
}

int HistoryGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : HistoryQuery::ColumnCount;
}

QVariant HistoryGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    if (role == Qt::TextAlignmentRole) {
        const int column = index.column();
        const bool number = column == HistoryQuery::ColIn || column == HistoryQuery::ColOut ||
                            column == HistoryQuery::ColTotal || column == HistoryQuery::ColDuration;
        return int((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return QVariant();
    const HistoryConnection* row = Row(index.row());
    return row != nullptr ? CellText(*row, index.column()) : QString();
}

QVariant HistoryGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    const QStringList titles = Titles();
    return section >= 0 && section < titles.size() ? titles[section] : QVariant();
}
