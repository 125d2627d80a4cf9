#pragma once
// Texts as the monitor sends them: UTF-8 when the bytes are well-formed
// UTF-8, else one character per byte (Latin-1). The decoder, both exports and
// the GUI all decide by IsUtf8, so the same bytes read the same everywhere.

#include <string>
#include <string_view>

// Whether bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF and no character cut short.
bool IsUtf8(std::string_view bytes);

// Each byte as the Latin-1 character it stands for, written in UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// A monitor's text as UTF-8: kept when it is valid UTF-8, else read as Latin-1.
std::string MonitorUtf8(std::string_view bytes);
