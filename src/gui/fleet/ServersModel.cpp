#include "gui/fleet/ServersModel.h"

#include <QDateTime>
#include <ctime>

#include "core/table/EntryObj.h"
#include "core/view/ConnectionFilter.h"
#include "core/view/FilterIndex.h"
#include "core/view/TextFold.h"
#include "gui/session/CVGLDoc.h"
#include "gui/session/SessionList.h"

namespace {

const char* const Titles[] = {"Server", "Link",   "State",   "Last poll",         "Active",
                              "Failed", "In B/s", "Out B/s", "Failed logins/min", "Not shown",
                              "Traffic"};

QString TimeOfDay(int64_t time) {
    return QDateTime::fromSecsSinceEpoch(time).toString(QStringLiteral("HH:mm:ss"));
}

QString Rate(double bytesPerSecond) {
    return QLocale().toString(static_cast<qlonglong>(bytesPerSecond + 0.5));
}

}  // namespace

ServersModel::ServersModel(QObject* parent) : QAbstractTableModel(parent) {
    SessionList& sessions = SessionList::Get();
    connect(&sessions, &SessionList::sessionsChanged, this, &ServersModel::Rebuild);
    connect(&sessions, &SessionList::sessionPolled, this,
            [this](CVGLDoc* session) { RowChanged(session, true); });
    connect(&sessions, &SessionList::sessionChanged, this,
            [this](CVGLDoc* session) { RowChanged(session, false); });
    Rebuild();
}

int64_t ServersModel::Now() const {
    return m_Now != 0 ? m_Now : static_cast<int64_t>(std::time(nullptr));
}

int ServersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_Rows.size());
}

int ServersModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ServersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount) {
        return QVariant();
    }
    return QString::fromLatin1(Titles[section]);
}

CVGLDoc* ServersModel::Session(int row) const {
    return row >= 0 && row < static_cast<int>(m_Rows.size()) ? m_Rows[size_t(row)].data() : nullptr;
}

void ServersModel::ClockMoved() {
    if (!m_Rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

bool ServersModel::SetFilter(const std::string& text, std::string& error) {
    std::vector<FilterLine::Term> terms;
    const bool ok = FilterLine::Parse(text, terms, error);
    m_FilterText = ok ? text : std::string();
    m_Terms = std::move(terms);
    m_bServerTermsOnly = !m_Terms.empty();
    for (const FilterLine::Term& term : m_Terms) {
        m_bServerTermsOnly = m_bServerTermsOnly && term.m_Field == FilterLine::Server;
    }
    Rebuild();
    return ok;
}

void ServersModel::Rebuild() {
    beginResetModel();
    m_Rows.clear();
    for (CVGLDoc* session : SessionList::Get().Sessions()) {
        if (Keeps(*session)) m_Rows.emplace_back(session);
    }
    endResetModel();
}

// Only a poll changes which connections a session has: a change of its
// state or status (every second while it counts down to a reconnect) is
// painted without matching its connections again.
void ServersModel::RowChanged(CVGLDoc* session, bool polled) {
    const bool shown = std::find(m_Rows.begin(), m_Rows.end(), session) != m_Rows.end();
    if (polled && !m_Terms.empty() && !m_bServerTermsOnly && shown != Keeps(*session)) {
        Rebuild();  // its connections now meet the filter, or no longer
        return;
    }
    for (size_t row = 0; row < m_Rows.size(); ++row) {
        if (m_Rows[row] != session) continue;
        emit dataChanged(index(int(row), 0), index(int(row), ColumnCount - 1));
    }
}

bool ServersModel::ServerMeets(const std::string& server) const {
    const std::string folded = Folded(server);
    for (const FilterLine::Term& term : m_Terms) {
        const bool meets = term.m_Match == FilterLine::Exact
                               ? folded == Folded(term.m_Value)
                               : folded.find(term.m_Value) != std::string::npos;
        if (meets == term.m_bExclude) return false;
    }
    return true;
}

bool ServersModel::Keeps(CVGLDoc& session) const {
    if (m_Terms.empty()) return true;
    const std::string server = session.ServerName().toStdString();
    if (m_bServerTermsOnly) return ServerMeets(server);
    const PMCTable& table = session.GetTable();
    std::vector<const EntryObj*> entries;
    entries.reserve(table.DisplayCount());
    for (int row = 1; const EntryObj* entry = table.DisplayEntry(row); ++row)
        entries.push_back(entry);
    FilterIndex index;
    index.SetServer(server);
    index.Build(entries);
    ConnectionFilter filter;
    filter.SetText(m_FilterText);
    for (size_t row = 0; row < index.Size(); ++row) {
        if (filter.Matches(index, row)) return true;
    }
    return false;
}

QString ServersModel::LinkText(const CVGLDoc& session) {
    const QString& name = session.ServerName();
    if (name.startsWith(QLatin1String("ssh://")) || session.Link().m_bTunnel)
        return QStringLiteral("SSH");
    if (name.startsWith(QLatin1String("tls://")) || session.Link().m_bEncrypted)
        return QStringLiteral("TLS");
    return QStringLiteral("plain");
}

QString ServersModel::StateText(const CVGLDoc& session) {
    const QString since = session.StateSince() > 0 ? TimeOfDay(session.StateSince()) : QString();
    if (session.GetTable().IsConnected()) return QStringLiteral("Connected since %1").arg(since);
    if (session.IsLost() && session.IsReconnecting()) {
        if (session.ReconnectSecondsLeft() > 0) {
            return QStringLiteral("Reconnecting in %1 s (lost at %2)")
                .arg(session.ReconnectSecondsLeft())
                .arg(since);
        }
        return QStringLiteral("Reconnecting (lost at %1)").arg(since);
    }
    if (session.IsLost()) return QStringLiteral("Lost since %1").arg(since);
    if (session.IsConnecting()) return QStringLiteral("Connecting");
    return since.isEmpty() ? QStringLiteral("Not connected")
                           : QStringLiteral("Disconnected since %1").arg(since);
}

QVariant ServersModel::Display(const CVGLDoc& session, int column) const {
    const PMCTable& table = session.GetTable();
    const ServerActivity& activity = session.Activity();
    const bool connected = table.IsConnected();
    switch (column) {
        case ColServer:
            return session.ServerName();
        case ColLink:
            return LinkText(session);
        case ColState:
            return StateText(session);
        case ColLastPoll:
            if (activity.LastPollTime() == 0) return QStringLiteral("never");
            return QStringLiteral("%1 s ago")
                .arg(std::max<int64_t>(0, Now() - activity.LastPollTime()));
        case ColActive:
            return connected ? QVariant(qulonglong(table.ActiveCount())) : QVariant();
        case ColFailed:
            return connected ? QVariant(qulonglong(table.FailedCount())) : QVariant();
        case ColInRate:
            return connected ? Rate(activity.LastRate().m_In) : QString();
        case ColOutRate:
            return connected ? Rate(activity.LastRate().m_Out) : QString();
        case ColFailedLogins:
            return qulonglong(activity.FailedLoginsLastMinute(Now()));
        case ColNotShown:
            return connected ? QVariant(qulonglong(table.DroppedCount())) : QVariant();
        default:
            return QVariant();
    }
}

QVariant ServersModel::SortValue(const CVGLDoc& session, int column) const {
    const ServerActivity& activity = session.Activity();
    switch (column) {
        case ColState:
            return session.GetTable().IsConnected() ? 2 : session.IsReconnecting() ? 1 : 0;
        case ColLastPoll:
            return qlonglong(Now() - activity.LastPollTime());
        case ColActive:
            return qulonglong(session.GetTable().ActiveCount());
        case ColFailed:
            return qulonglong(session.GetTable().FailedCount());
        case ColInRate:
            return activity.LastRate().m_In;
        case ColOutRate:
            return activity.LastRate().m_Out;
        case ColFailedLogins:
            return qulonglong(activity.FailedLoginsLastMinute(Now()));
        case ColNotShown:
            return qulonglong(session.GetTable().DroppedCount());
        case ColTraffic:
            return activity.LastRate().m_In + activity.LastRate().m_Out;
        default:
            return Display(session, column).toString().toLower();
    }
}

QVariant ServersModel::data(const QModelIndex& index, int role) const {
    const CVGLDoc* session = index.isValid() ? Session(index.row()) : nullptr;
    if (!session) return QVariant();
    if (role == Qt::DisplayRole) return Display(*session, index.column());
    if (role == SortRole) return SortValue(*session, index.column());
    if (role == Qt::TextAlignmentRole && index.column() >= ColActive &&
        index.column() < ColTraffic) {
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == TrafficRole && index.column() == ColTraffic) {
        QList<double> values;
        for (const TrafficRate& rate : session->Activity().RecentRates()) {
            values.push_back(rate.m_In + rate.m_Out);
        }
        return QVariant::fromValue(values);
    }
    if (role == Qt::ForegroundRole && index.column() == ColState &&
        !session->GetTable().IsConnected() && session->IsLost()) {
        return QColor(Qt::darkRed);
    }
    return QVariant();
}
