#include "core/history/HistoryQuery.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "core/history/HistoryStatement.h"

namespace {

// A WHERE clause over `connections c` (or `periods p`) and the texts it binds
// from ?3 on; ?1 and ?2 are the range.
struct Where {
    std::string m_Sql;
    std::vector<std::string> m_Texts;

    std::string Param(std::string text) {
        m_Texts.push_back(std::move(text));
        return "?" + std::to_string(m_Texts.size() + 2);
    }
    void Bind(HistoryStatement& statement, const HistoryRange& range) const {
        statement.Bind(1, range.m_From).Bind(2, range.m_To);
        for (size_t i = 0; i < m_Texts.size(); ++i)
            statement.Bind(static_cast<int>(i + 3), m_Texts[i]);
    }
};

std::string ServersClause(Where& where, const std::vector<std::string>& servers,
                          const char* column) {
    if (servers.empty()) return std::string();
    std::string sql = std::string(" AND ") + column + " IN (SELECT id FROM names WHERE text IN (";
    for (size_t i = 0; i < servers.size(); ++i) sql += (i ? "," : "") + where.Param(servers[i]);
    return sql + "))";
}

Where ConnectionsWhere(const HistoryRange& range) {
    Where where;
    where.m_Sql = "c.end_time >= ?1 AND c.end_time < ?2";
    where.m_Sql += ServersClause(where, range.m_Servers, "c.server");
    where.m_Sql +=
        range.m_Filter.Sql([&where](std::string text) { return where.Param(std::move(text)); });
    return where;
}

std::string NameOf(const char* column) {
    return std::string("(SELECT text FROM names WHERE id = ") + column + ")";
}

// Users are told apart by their server unless the range is of one server.
bool SplitsServers(const HistoryRange& range) {
    return range.m_Servers.size() != 1;
}

std::string SortKey(int column) {
    switch (column) {
        case HistoryQuery::ColServer:
            return NameOf("c.server");
        case HistoryQuery::ColUser:
            return NameOf("c.user");
        case HistoryQuery::ColSource:
            return NameOf("c.src_name") + ", " + NameOf("c.src_addr");
        case HistoryQuery::ColDestination:
            return NameOf("c.dst_name") + ", " + NameOf("c.dst_addr");
        case HistoryQuery::ColService:
            return NameOf("c.service");
        case HistoryQuery::ColStart:
            return "c.start_time";
        case HistoryQuery::ColDuration:
            return "c.end_time - c.start_time";
        case HistoryQuery::ColIn:
            return "c.bytes_in";
        case HistoryQuery::ColOut:
            return "c.bytes_out";
        case HistoryQuery::ColTotal:
            return "c.bytes_in + c.bytes_out";
        case HistoryQuery::ColResult:
            return "c.result_code, " + NameOf("c.result_text");
        case HistoryQuery::ColAuth:
            return "c.auth";
        case HistoryQuery::ColNextServer:
            return NameOf("c.next_server");
        default:
            return "c.end_time";
    }
}

}  // namespace

void HistoryQuery::Open(const std::string& path) {
    m_Db.Open(path, HistoryDatabase::ReadOnly);
    HistoryFilter::AddFunctions(m_Db);
}

bool HistoryQuery::Span(int64_t& first, int64_t& last) {
    HistoryStatement statement(
        m_Db,
        "SELECT count(t), min(t), max(t) FROM (SELECT min(end_time) t FROM connections UNION ALL "
        "SELECT max(end_time) FROM connections UNION ALL SELECT min(time) FROM periods UNION ALL "
        "SELECT max(time) FROM periods)");
    if (!statement.Step() || statement.Int(0) == 0) return false;
    first = statement.Int(1);
    last = statement.Int(2);
    return true;
}

std::vector<std::string> HistoryQuery::Servers() {
    HistoryStatement statement(
        m_Db,
        "SELECT text FROM names WHERE id IN (SELECT server FROM events UNION SELECT server FROM "
        "periods) ORDER BY text");
    std::vector<std::string> servers;
    while (statement.Step()) servers.push_back(statement.Text(0));
    return servers;
}

int64_t HistoryQuery::Count(const HistoryRange& range) {
    const Where where = ConnectionsWhere(range);
    HistoryStatement statement(m_Db,
                               ("SELECT count(*) FROM connections c WHERE " + where.m_Sql).c_str());
    where.Bind(statement, range);
    return statement.Step() ? statement.Int(0) : 0;
}

std::vector<HistoryConnection> HistoryQuery::Page(const HistoryRange& range, int sortColumn,
                                                  bool ascending, int64_t offset, int64_t limit) {
    const Where where = ConnectionsWhere(range);
    const std::string order = SortKey(sortColumn);
    std::string direction = ascending ? " ASC" : " DESC";
    // Every part of a compound key goes the same way; the id keeps equal keys in a fixed order.
    std::string orderBy;
    size_t start = 0;
    for (size_t comma = order.find(", ");; comma = order.find(", ", start)) {
        orderBy += order.substr(start, comma - start) + direction + ", ";
        if (comma == std::string::npos) break;
        start = comma + 2;
    }
    const std::string sql =
        "SELECT " + NameOf("c.server") + ", c.conn_key, " + NameOf("c.user") + ", " +
        NameOf("c.src_addr") + ", " + NameOf("c.src_name") + ", " + NameOf("c.dst_addr") + ", " +
        NameOf("c.dst_name") + ", " + NameOf("c.service") + ", " + NameOf("c.next_server") + ", " +
        NameOf("c.result_text") +
        ", c.start_time, c.end_time, c.bytes_in, c.bytes_out, c.result_code, c.status, c.auth "
        "FROM connections c WHERE " +
        where.m_Sql + " ORDER BY " + orderBy + "c.id" + direction + " LIMIT " +
        std::to_string(limit) + " OFFSET " + std::to_string(offset);
    HistoryStatement statement(m_Db, sql.c_str());
    where.Bind(statement, range);
    std::vector<HistoryConnection> rows;
    while (statement.Step()) {
        HistoryConnection& c = rows.emplace_back();
        c.m_Server = statement.Text(0);
        c.m_Key = statement.Text(1);
        c.m_User = statement.Text(2);
        c.m_SourceAddr = statement.Text(3);
        c.m_SourceName = statement.Text(4);
        c.m_DestAddr = statement.Text(5);
        c.m_DestName = statement.Text(6);
        c.m_Service = statement.Text(7);
        c.m_NextServer = statement.Text(8);
        c.m_ResultText = statement.Text(9);
        c.m_StartTime = statement.Int(10);
        c.m_EndTime = statement.Int(11);
        c.m_BytesIn = static_cast<uint64_t>(statement.Int(12));
        c.m_BytesOut = static_cast<uint64_t>(statement.Int(13));
        c.m_ResultCode = static_cast<int32_t>(statement.Int(14));
        c.m_Status = static_cast<int32_t>(statement.Int(15));
        c.m_AuthMethod = static_cast<int32_t>(statement.Int(16));
    }
    return rows;
}

std::vector<HistoryTotal> HistoryQuery::Totals(const HistoryRange& range, TotalsBy by) {
    const Where where = ConnectionsWhere(range);
    const bool byServer = by == ByUser && SplitsServers(range);
    // A destination is named by its host name where it has one, else by its address.
    const std::string key = by == ByUser      ? (byServer ? "c.user, c.server" : "c.user")
                            : by == ByService ? "c.service"
                                              : "c.dst_name, c.dst_addr";
    const std::string name = by == ByDestination ? "coalesce(nullif(" + NameOf("g.dst_name") +
                                                       ", ''), " + NameOf("g.dst_addr") + ")"
                                                 : NameOf(by == ByUser ? "g.user" : "g.service");
    const std::string server = byServer ? NameOf("g.server") : "''";
    const std::string sql =
        "SELECT " + name + ", " + server + ", sum(n), sum(i), sum(o) FROM (SELECT " + key +
        ", count(*) AS n, sum(c.bytes_in) AS i, sum(c.bytes_out) AS o "
        "FROM connections c WHERE " +
        where.m_Sql + " GROUP BY " + key + ") g GROUP BY 1, 2 ORDER BY sum(i) + sum(o) DESC, 1, 2";
    HistoryStatement statement(m_Db, sql.c_str());
    where.Bind(statement, range);
    std::vector<HistoryTotal> totals;
    std::set<std::string> servers;
    while (statement.Step()) {
        HistoryTotal& total = totals.emplace_back();
        total.m_Name = statement.Text(0);
        total.m_Server = statement.Text(1);
        total.m_Connections = statement.Int(2);
        total.m_In = static_cast<uint64_t>(statement.Int(3));
        total.m_Out = static_cast<uint64_t>(statement.Int(4));
        servers.insert(total.m_Server);
    }
    // Users of one server alone need no server beside them.
    if (servers.size() < 2) {
        for (HistoryTotal& total : totals) total.m_Server.clear();
    }
    return totals;
}

HistorySeries HistoryQuery::Traffic(const HistoryRange& asked, bool byUser) {
    HistoryRange range = asked;
    // A range without bounds ("everything") is narrowed to the periods there are.
    if ((range.m_To - range.m_From) / 86400 > 1000) {
        HistoryStatement extent(
            m_Db, "SELECT min(time), max(time) FROM periods WHERE time > ?1 AND time <= ?2");
        extent.Bind(1, range.m_From).Bind(2, range.m_To);
        if (extent.Step() && extent.Int(1) != 0) {
            range.m_From = extent.Int(0) - 1;
            range.m_To = extent.Int(1);
        }
    }
    HistorySeries series;
    series.m_BucketSeconds = BucketFor(range.m_To - range.m_From);
    const int64_t buckets = std::max<int64_t>(
        1, std::min<int64_t>(100000, (range.m_To - range.m_From + series.m_BucketSeconds - 1) /
                                         series.m_BucketSeconds));
    for (int64_t i = 0; i < buckets; ++i) {
        series.m_BucketStarts.push_back(range.m_From + i * series.m_BucketSeconds);
    }
    Where where;
    where.m_Sql = "p.time > ?1 AND p.time <= ?2";
    where.m_Sql += ServersClause(where, range.m_Servers, "p.server");
    const bool byServer = byUser && SplitsServers(range);
    const std::string sql =
        "SELECT (p.time - 1 - ?1) / " + std::to_string(series.m_BucketSeconds) + ", " +
        NameOf("t.name") + ", " + (byServer ? NameOf("p.server") : std::string("''")) +
        ", sum(t.bytes_in + t.bytes_out) FROM periods p JOIN period_traffic t ON t.period = p.id "
        "WHERE " +
        where.m_Sql + " AND t.kind = " + (byUser ? "1" : "0") + " GROUP BY 1, t.name" +
        (byServer ? ", p.server" : "");
    HistoryStatement statement(m_Db, sql.c_str());
    where.Bind(statement, range);
    std::map<std::pair<std::string, std::string>, std::vector<uint64_t>> byName;
    std::set<std::string> servers;
    while (statement.Step()) {
        const int64_t bucket = statement.Int(0);
        std::string server = statement.Text(2);
        servers.insert(server);
        std::vector<uint64_t>& values = byName[{statement.Text(1), std::move(server)}];
        values.resize(static_cast<size_t>(buckets));
        if (bucket >= 0 && bucket < buckets)
            values[static_cast<size_t>(bucket)] += static_cast<uint64_t>(statement.Int(3));
    }
    for (auto& [key, values] : byName) {
        series.m_Names.push_back(key.first);
        series.m_Servers.push_back(servers.size() < 2 ? std::string() : key.second);
        series.m_Values.push_back(std::move(values));
    }
    return series;
}

std::vector<HistoryUsage> HistoryQuery::Usage(const HistoryRange& range, bool perMonth,
                                              bool perServer) {
    const Where where = ConnectionsWhere(range);
    const std::string period = std::string("strftime('") + (perMonth ? "%Y-%m" : "%Y-%m-%d") +
                               "', c.end_time, 'unixepoch')";
    const std::string key = perServer ? "period, c.server, c.user" : "period, c.user";
    // A connection whose start is unknown (0), or whose clock went back, adds no time.
    const std::string sql =
        "SELECT g.period, " + (perServer ? NameOf("g.server") : std::string("''")) + ", " +
        NameOf("g.user") + ", g.n, g.i, g.o, g.s FROM (SELECT " + period +
        " AS period, c.server AS server, c.user AS user, count(*) AS n, sum(c.bytes_in) AS i, "
        "sum(c.bytes_out) AS o, sum(CASE WHEN c.start_time != 0 AND c.end_time > c.start_time "
        "THEN c.end_time - c.start_time ELSE 0 END) AS s FROM connections c WHERE " +
        where.m_Sql + " GROUP BY " + key + ") g ORDER BY 1, 2, 3";
    HistoryStatement statement(m_Db, sql.c_str());
    where.Bind(statement, range);
    std::vector<HistoryUsage> usage;
    while (statement.Step()) {
        HistoryUsage& row = usage.emplace_back();
        row.m_Period = statement.Text(0);
        row.m_Server = statement.Text(1);
        row.m_User = statement.Text(2);
        row.m_Connections = statement.Int(3);
        row.m_In = static_cast<uint64_t>(statement.Int(4));
        row.m_Out = static_cast<uint64_t>(statement.Int(5));
        row.m_Seconds = statement.Int(6);
    }
    return usage;
}

int64_t HistoryQuery::BucketFor(int64_t span) {
    static const int64_t sizes[] = {60, 300, 900, 1800, 3600, 3 * 3600, 6 * 3600, 12 * 3600, 86400};
    for (int64_t size : sizes) {
        if (span / size <= 100) return size;
    }
    return 86400;
}
