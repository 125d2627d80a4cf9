#include "gui/fleet/AlertRulesJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "gui/framework/ProfileSettings.h"

namespace {

const char* const KindWords[] = {"lost", "logins", "rate", "volume", "filter"};

QString KindWord(AlertKind kind) {
    return QString::fromLatin1(KindWords[static_cast<int>(kind)]);
}

bool KindOfWord(const QString& word, AlertKind& kind) {
    for (int i = 0; i < 5; ++i) {
        if (word == QLatin1String(KindWords[i])) {
            kind = static_cast<AlertKind>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

QByteArray AlertRulesToJson(const std::vector<AlertRule>& rules) {
    QJsonArray array;
    for (const AlertRule& rule : rules) {
        array.append(QJsonObject{{"kind", KindWord(rule.m_Kind)},
                                 {"name", QString::fromStdString(rule.m_Name)},
                                 {"enabled", rule.m_bEnabled},
                                 {"threshold", rule.m_Threshold},
                                 {"minutes", rule.m_Minutes},
                                 {"perClient", rule.m_bPerClient},
                                 {"monthly", rule.m_bMonthly},
                                 {"filter", QString::fromStdString(rule.m_Filter)}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::vector<AlertRule> AlertRulesFromJson(const QByteArray& json) {
    std::vector<AlertRule> rules;
    for (const QJsonValue& value : QJsonDocument::fromJson(json).array()) {
        const QJsonObject object = value.toObject();
        AlertRule rule;
        if (!KindOfWord(object.value("kind").toString(), rule.m_Kind)) continue;
        rule.m_Name = object.value("name").toString().toStdString();
        rule.m_bEnabled = object.value("enabled").toBool(true);
        rule.m_Threshold = object.value("threshold").toDouble();
        rule.m_Minutes = object.value("minutes").toInt(1);
        rule.m_bPerClient = object.value("perClient").toBool();
        rule.m_bMonthly = object.value("monthly").toBool();
        rule.m_Filter = object.value("filter").toString().toStdString();
        if (rule.Problem().empty()) rules.push_back(std::move(rule));
    }
    return rules;
}

std::vector<AlertRule> SavedAlertRules() {
    const QByteArray json = ProfileSettings::AlertRules();
    return json.isEmpty() ? DefaultAlertRules() : AlertRulesFromJson(json);
}
