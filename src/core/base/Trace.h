#pragma once
// Diagnostic trace: internal inconsistencies are written here and never shown
// to the user. Silent unless the environment variable VGL_TRACE is set to a
// value other than 0, in which case each line goes to standard error. Tests install a sink to see
// every line whether or not VGL_TRACE is set.

#include <functional>
#include <string>

void GWTrace(const char* message, const char* file, int line);  // "%s in %s at line %d\n"
#define GW_TRACE(msg) GWTrace((msg), __FILE__, __LINE__)

using TraceSink = std::function<void(const std::string& line)>;
void SetTraceSink(TraceSink sink);  // an empty sink removes the current one
