#pragma once
// What the command lines of vgl-proxy and vgl-monitor share: values read
// from text, the table of options that --help prints, and the rule on the
// monitor's TLS files.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/Cidr.h"

bool ParseNumber(std::string_view text, unsigned long min, unsigned long max, unsigned long& value);
// A numeric IPv4 or IPv6 address.
bool IsAddress(const std::string& host);
// "a.b.c.d:port" or "[v6]:port".
bool ParseHostPort(std::string_view text, std::string& host, uint16_t& port);
// The blocks a list falls back to when none is given: 127.0.0.0/8 and ::1.
std::vector<Cidr> LoopbackOnly();

// One line of --help, in the order of the usage.
struct OptionHelp {
    const char* m_Option;
    const char* m_Value;  // empty for a flag
    const char* m_Text;
};
// The options of the monitor's listener, its TLS and the metrics' listener,
// alike in every program that serves the monitor, in their order of --help.
std::span<const OptionHelp> MonitorServingOptionHelps();
// A program's table: its own options before and after the shared ones.
std::vector<OptionHelp> JoinOptionHelps(std::initializer_list<std::span<const OptionHelp>> parts);
// `usage`, `intro`, then each option with its text.
std::string OptionsHelpText(const std::string& usage, const std::string& intro,
                            std::span<const OptionHelp> options);
bool OptionTakesValue(std::span<const OptionHelp> options, const std::string& option);

// TLS without a clients file would hand every record to whoever connects;
// a clients file without TLS would look like a protection that is not there.
bool CheckMonitorTlsFiles(const std::string& cert, const std::string& key,
                          const std::string& clients, std::string& error);
