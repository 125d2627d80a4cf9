#include "ProxyConfigFile.h"

#include <functional>

#include "ProxyOptions.h"
#include "TomlFile.h"

namespace {

// A scalar as the command line would give it.
bool ScalarText(const toml::node& node, std::string& text) {
    if (const auto* s = node.as_string()) {
        text = s->get();
    } else if (const auto* i = node.as_integer()) {
        text = std::to_string(i->get());
    } else {
        return false;
    }
    return true;
}

// A key whose value is a scalar or a list of them.
bool ForEachText(const toml::node& node, const std::function<bool(const std::string&)>& take) {
    std::string text;
    if (const auto* list = node.as_array()) {
        for (const toml::node& item : *list) {
            if (!ScalarText(item, text) || !take(text)) return false;
        }
        return true;
    }
    return ScalarText(node, text) && take(text);
}

bool LoadRule(const toml::table& table, int number, ProxyOptions& options, std::string& error) {
    DestRule rule;
    rule.m_Number = number;
    const std::string where = "rule " + std::to_string(number) + ": ";
    const auto action = table["action"].value<std::string>();
    if (!action || (*action != "pass" && *action != "block")) {
        error = where + "action must be \"pass\" or \"block\"";
        return false;
    }
    rule.m_bPass = *action == "pass";
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        std::string bad;
        const auto take = [&](const std::string& text) {
            if (name == "clients" || name == "to") {
                const auto block = Cidr::Parse(text);
                if (!block) bad = "\"" + text + "\" is not an address block";
                if (block) (name == "clients" ? rule.m_Clients : rule.m_To).push_back(*block);
            } else if (name == "users") {
                rule.m_Users.push_back(text);
            } else if (name == "names") {
                // An empty suffix would never match, and the rule would look in force.
                if (text.empty() || text == ".") bad = "\"" + text + "\" is not a name";
                if (bad.empty()) rule.m_Names.push_back(text);
            } else if (name == "ports") {
                const auto range = ParsePortRange(text);
                if (!range) bad = "\"" + text + "\" is not a port or a range such as 8000-8999";
                if (range) rule.m_Ports.push_back(*range);
            } else {
                bad = "unknown key " + name;
            }
            return bad.empty();
        };
        if (name == "action") continue;
        if (!ForEachText(node, take)) {
            error = where + (bad.empty() ? name + " must be a text or a list of texts" : bad);
            return false;
        }
    }
    options.m_Rules.push_back(std::move(rule));
    return true;
}

bool LoadKey(const std::string& key, const toml::node& node, ProxyOptions& options,
             std::string& error) {
    std::string option = "--" + key;
    for (char& c : option) {
        if (c == '_') c = '-';
    }
    if (key == "config" || key == "help" || key == "version" || key == "monitor_tls_generate") {
        error = "unknown key " + key;
        return false;
    }
    if (!ProxyOptionTakesValue(option)) {
        const auto* flag = node.as_boolean();
        if (option == "--quiet" && flag) {
            options.m_bQuiet = flag->get();
            return true;
        }
        error = option == "--quiet" ? "quiet must be true or false" : "unknown key " + key;
        return false;
    }
    if (const auto* list = node.as_array(); key == "users" && list && list->empty()) {
        error = "users names no file (leave it out for no authentication)";
        return false;
    }
    // The command line keeps the last of a repeated --listen; a file that
    // lists two must not have one of them ignored unsaid.
    if (node.is_array() && !ProxyOptionRepeats(option)) {
        error = key + " takes one value, not a list";
        return false;
    }
    std::string failure;
    const bool done = ForEachText(node, [&](const std::string& text) {
        return ApplyProxyOption(option, text, options, failure);
    });
    if (!done) error = failure.empty() ? key + " must be a text, a number or a list" : failure;
    return done;
}

}  // namespace

bool LoadProxyConfigFile(const std::string& path, ProxyOptions& options, std::string& error) {
    toml::table file;
    if (!ReadTomlFile(path, file, error)) return false;
    for (const auto& [key, node] : file) {
        const std::string name(key.str());
        std::string failure;
        if (name == "rule") {
            const auto* rules = node.as_array();
            bool loaded = rules != nullptr;
            if (rules) {
                for (const toml::node& rule : *rules) {
                    const auto* table = rule.as_table();
                    if (!table) {
                        loaded = false;
                        break;
                    }
                    if (!LoadRule(*table, static_cast<int>(options.m_Rules.size()) + 1, options,
                                  failure)) {
                        error = path + ":" + std::to_string(table->source().begin.line) + ": " +
                                failure;
                        return false;
                    }
                }
            }
            if (!loaded) {
                error = path + ": rules are written [[rule]]";
                return false;
            }
        } else if (!LoadKey(name, node, options, failure)) {
            error = path + ":" + std::to_string(node.source().begin.line) + ": " + failure;
            return false;
        }
    }
    return true;
}
