#include "gui/session/SessionSettings.h"

#include <QColor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <functional>

#include "core/base/SessionLimits.h"
#include "gui/graph/GraphView.h"
#include "gui/graph/ServiceCatalogue.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"

namespace {

const char* const VersionKey = "VGLSession";  // sorts first, so the file starts with it

using Write = std::function<QJsonValue(const SessionSettings&)>;
using Read = std::function<void(SessionSettings&, const QJsonValue&)>;
struct Key {
    const char* m_Name;
    Write m_Write;
    Read m_Read;
};

Key Int(const char* name, int32_t SessionSettings::*member, int32_t low, int32_t high) {
    return {name, [member](const SessionSettings& s) { return QJsonValue(s.*member); },
            [member, low, high](SessionSettings& s, const QJsonValue& v) {
                if (v.isDouble()) s.*member = std::clamp(v.toInt(), low, high);
            }};
}

Key Bool(const char* name, bool SessionSettings::*member) {
    return {name, [member](const SessionSettings& s) { return QJsonValue(s.*member); },
            [member](SessionSettings& s, const QJsonValue& v) {
                if (v.isBool()) s.*member = v.toBool();
            }};
}

Key Text(const char* name, QString SessionSettings::*member) {
    return {name, [member](const SessionSettings& s) { return QJsonValue(s.*member); },
            [member](SessionSettings& s, const QJsonValue& v) {
                if (v.isString()) s.*member = v.toString().trimmed();
            }};
}

QJsonValue WriteColumns(const SessionSettings& s) {
    QJsonArray columns;
    for (const ColumnInfo& column : s.m_Columns) {
        columns.append(QJsonObject{{"id", column.m_Id},
                                   {"shown", column.m_bHidden == 0},
                                   {"ascending", column.m_bAscending != 0}});
    }
    return columns;
}

// Columns this program does not know are passed over; those the file lacks
// follow in their described place, so every column is there exactly once.
void ReadColumns(SessionSettings& s, const QJsonValue& value) {
    if (!value.isArray()) return;
    ColumnInfoArray described;
    BuildDefaultColumns(described);
    ColumnInfoArray columns;
    std::vector<bool> taken(described.size(), false);
    for (const QJsonValue& item : value.toArray()) {
        const QJsonObject object = item.toObject();
        const int id = object.value("id").toInt(-1);
        if (id < 0 || id >= static_cast<int>(described.size()) || taken[static_cast<size_t>(id)]) {
            continue;
        }
        taken[static_cast<size_t>(id)] = true;
        ColumnInfo column = described[static_cast<size_t>(id)];
        column.m_bHidden = object.value("shown").toBool(true) ? 0 : 1;
        column.m_bAscending = object.value("ascending").toBool(false) ? 1 : 0;
        columns.push_back(column);
    }
    for (const ColumnInfo& column : described) {
        if (!taken[static_cast<size_t>(column.m_Id)]) columns.push_back(column);
    }
    s.m_Columns = columns;
}

// Colours as "#rrggbb"; a record holds red in its low byte.
QString ColorText(uint32_t rgb) {
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF))
        .name();
}

uint32_t ColorValue(const QString& text) {
    const QColor color(text);
    return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
           (static_cast<uint32_t>(color.blue()) << 16);
}

QJsonValue WriteServices(const SessionSettings& s) {
    QJsonArray services;
    for (const ServiceRecord& record : s.m_Services) {
        services.append(QJsonObject{{"name", QString::fromStdString(record.m_Name)},
                                    {"port", record.m_Port},
                                    {"color", ColorText(record.m_Color)},
                                    {"lineStyle", record.m_LineStyle},
                                    {"userDefined", record.m_bUserDefined != 0}});
    }
    return services;
}

void ReadServices(SessionSettings& s, const QJsonValue& value) {
    if (!value.isArray()) return;
    std::vector<ServiceRecord> services;
    for (const QJsonValue& item : value.toArray()) {
        const QJsonObject object = item.toObject();
        ServiceRecord record;
        record.m_Name = object.value("name").toString().toStdString();
        if (record.m_Name.empty() || record.m_Name == "Others") continue;
        record.m_Port = std::clamp(object.value("port").toInt(), 0, 65535);
        record.m_Color = ColorValue(object.value("color").toString("#000000"));
        record.m_LineStyle = std::clamp(object.value("lineStyle").toInt(), 0, int(LineSolid8));
        record.m_bUserDefined = object.value("userDefined").toBool() ? 1 : 0;
        services.push_back(record);
    }
    s.m_Services = services;
}

// The format: one line a key.
const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = {
        Text("server", &SessionSettings::m_Server),
        Bool("connectOnOpen", &SessionSettings::m_bConnectOnOpen),
        Int("updatePeriod", &SessionSettings::m_UpdatePeriod, MinUpdatePeriod, MaxUpdatePeriod),
        {"columns", WriteColumns, ReadColumns},
        Int("sortColumn", &SessionSettings::m_SortColumn, -1, 255),
        Int("frozenColumns", &SessionSettings::m_FrozenColumns, 0, 2),
        Int("hostForm", &SessionSettings::m_HostForm, 0, 1),
        Int("dataUnit", &SessionSettings::m_DataUnit, 0, 2),
        Int("connectionLimit", &SessionSettings::m_ConnectionLimit, MinConnectionLimit,
            MaxConnectionLimit),
        Text("filter", &SessionSettings::m_Filter),
        Int("groupBy", &SessionSettings::m_GroupBy, 0, 4),
        {"services", WriteServices, ReadServices},
    };
    return keys;
}

}  // namespace

SessionSettings SessionSettings::Described() {
    SessionSettings settings;
    BuildDefaultColumns(settings.m_Columns);
    // The catalogue as the user may have changed it; the predefined
    // services only when it lacks them.
    const std::vector<std::string>& names = ServiceCatalogue::DefaultServiceNames();
    for (const std::string& name : names) {
        if (ServiceCatalogue::Services().count(name) == 0) ServiceCatalogue::LoadPredefined();
    }
    settings.m_Services = ServiceCatalogue::RecordsOf(names);
    return settings;
}

SessionSettings SessionSettings::Capture(const CVGLDoc& document) {
    SessionSettings settings = Described();
    settings.m_Server = document.ServerName();
    settings.m_bConnectOnOpen = !settings.m_Server.isEmpty();
    settings.m_UpdatePeriod = document.m_UpdatePeriod;
    const PMCTable& table = document.GetTable();
    settings.m_HostForm = table.HostForm();
    settings.m_DataUnit = table.DataUnit();
    settings.m_ConnectionLimit = static_cast<int32_t>(table.ConnectionLimit());
    settings.m_Filter = document.FilterText();
    settings.m_GroupBy = static_cast<int32_t>(document.Grouping());
    if (const GridView* grid = document.GetGridView()) {
        settings.m_Columns = grid->m_ColumnInfo;
        settings.m_SortColumn = grid->SortColumn();
        settings.m_FrozenColumns = grid->FrozenColumns();
    }
    if (const GraphView* graph = document.GetGraphView()) {
        settings.m_Services = ServiceCatalogue::RecordsOf(graph->GetServiceList());
    }
    return settings;
}

void SessionSettings::ApplyTo(CVGLDoc& document) const {
    document.SetServerName(m_Server);
    document.SetDisplayOptions(m_HostForm, m_DataUnit);
    document.SetConnectionLimit(m_ConnectionLimit);
    document.SetUpdatePeriod(m_UpdatePeriod);
    document.SetFilterText(m_Filter);
    document.SetGrouping(static_cast<GroupBy>(m_GroupBy));
    if (GridView* grid = document.GetGridView()) {
        CopyColumns(m_Columns, grid->m_ColumnInfo);
        grid->ApplyColumnVisibility();
        grid->SetFrozenColumns(m_FrozenColumns);
        grid->SortByColumn(m_SortColumn < g_nColumns ? m_SortColumn : -1);
    }
    if (GraphView* graph = document.GetGraphView()) {
        ServiceCatalogue::ServiceMap records;
        std::vector<std::string> names;
        for (const ServiceRecord& record : m_Services) {
            records[record.m_Name] = record;
            names.push_back(record.m_Name);
        }
        ServiceCatalogue::Merge(records);
        graph->SetServiceList(names);
    }
}

QByteArray SessionSettings::ToJson() const {
    QJsonObject object{{VersionKey, FormatVersion}};
    for (const Key& key : Keys()) object.insert(key.m_Name, key.m_Write(*this));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool SessionSettings::ReadJson(const QByteArray& text, QString& error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        error = QStringLiteral("It is not a VGL session document.");
        return false;
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(VersionKey);
    if (!version.isDouble()) {
        error = QStringLiteral("It is not a VGL session document.");
        return false;
    }
    if (version.toInt() < 1 || version.toInt() > FormatVersion) {
        error =
            QStringLiteral("It was written in format %1 by a later VGL; this one reads up to %2.")
                .arg(version.toInt())
                .arg(FormatVersion);
        return false;
    }
    for (const Key& key : Keys()) {
        if (object.contains(key.m_Name)) key.m_Read(*this, object.value(key.m_Name));
    }
    return true;
}

bool SessionSettings::SameOptions(const SessionSettings& other) const {
    SessionSettings left = *this;
    SessionSettings right = other;
    left.m_Server = right.m_Server = QString();
    left.m_bConnectOnOpen = right.m_bConnectOnOpen = false;
    return left == right;
}

bool SessionSettings::operator==(const SessionSettings& other) const {
    return ToJson() == other.ToJson();
}
