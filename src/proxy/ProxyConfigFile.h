#pragma once
// The configuration file of vgl-proxy, in TOML. Each top-level key is a
// command-line option without its dashes, "-" written "_" (listen, allow,
// max_per_client, quiet = true, ...); a list gives a repeatable option once
// per entry. Rules are tables [[rule]] with action = "pass" or "block" and
// any of clients, users, to, names and ports.

#include <string>

struct ProxyOptions;

// Adds what the file sets to `options`; false with a message naming the file
// (and the line, when the file is not valid TOML) when it does not load.
bool LoadProxyConfigFile(const std::string& path, ProxyOptions& options, std::string& error);
