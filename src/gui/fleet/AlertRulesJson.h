#pragma once
// The alerts' rules as the profile keeps them: a JSON array, one object a
// rule. A rule that cannot be read is left out rather than kept half.

#include <QByteArray>
#include <vector>

#include "core/alert/AlertRule.h"

QByteArray AlertRulesToJson(const std::vector<AlertRule>& rules);
std::vector<AlertRule> AlertRulesFromJson(const QByteArray& json);
// The rules the profile keeps, or the defaults when it keeps none.
std::vector<AlertRule> SavedAlertRules();
