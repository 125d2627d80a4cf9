#pragma once
// Reads a TOML file whole, for the configuration file and the blocks' state
// file alike: a file that cannot be read or parsed is one message naming the
// file and, where there is one, the line.

#include <toml++/toml.h>

#include <string>

bool ReadTomlFile(const std::string& path, toml::table& file, std::string& error);
