#pragma once
// The options a user last applied, kept in the user's configuration folder
// (QSettings) as the defaults of new sessions; a document's own settings win
// over them. Only the program turns this on, so that sessions built by the
// tests of the parts neither read nor write the user's configuration.

#include "gui/session/SessionSettings.h"

class SessionDefaults {
public:
    static void Enable(bool on);
    static bool IsEnabled();
    // The described settings with the kept options over them.
    static SessionSettings Load();
    // Keeps the options of these settings (never the server).
    static void Store(const SessionSettings& settings);
};
