#pragma once
// What a reload replaces: the options and the users file. A session takes
// the settings current at its start and keeps them to its end, so a reload
// never changes the rules of a connection halfway.

#include <memory>

#include "ProxyOptions.h"
#include "UserFile.h"

struct ProxySettings {
    ProxyOptions m_Options;
    std::shared_ptr<const UserFile> m_pUsers;  // null: no password is asked
};
