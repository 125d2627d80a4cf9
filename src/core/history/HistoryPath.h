#pragma once
// Where the history file of this user lives:
// $XDG_DATA_HOME/vgl/history.sqlite3, or ~/.local/share/vgl/ when unset.

#include <string>

std::string HistoryDefaultPath();
