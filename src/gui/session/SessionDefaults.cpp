#include "gui/session/SessionDefaults.h"

#include "gui/framework/ProfileSettings.h"

namespace {

bool g_bEnabled = false;

}  // namespace

void SessionDefaults::Enable(bool on) {
    g_bEnabled = on;
}

bool SessionDefaults::IsEnabled() {
    return g_bEnabled;
}

// Kept options that cannot be read (another version, a damaged file) leave
// the described ones in force; they are replaced at the next Store.
SessionSettings SessionDefaults::Load() {
    SessionSettings settings = SessionSettings::Described();
    if (!g_bEnabled) return settings;
    const QByteArray text = ProfileSettings::SessionDefaults();
    QString error;
    SessionSettings kept = settings;
    if (!text.isEmpty() && kept.ReadJson(text, error)) settings = kept;
    settings.m_Server.clear();
    settings.m_bConnectOnOpen = false;
    return settings;
}

void SessionDefaults::Store(const SessionSettings& settings) {
    if (!g_bEnabled) return;
    SessionSettings options = settings;
    options.m_Server.clear();
    options.m_bConnectOnOpen = false;
    options.m_Filter.clear();  // what a session looks for is its own, not an option
    options.m_GroupBy = 0;
    ProfileSettings::SetSessionDefaults(options.ToJson());
}
