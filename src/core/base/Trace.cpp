#include "core/base/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

TraceSink& Sink() {
    static TraceSink sink;
    return sink;
}

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Read once: the poll traces per record, and the environment does not change
// while the program runs. VGL_TRACE= and VGL_TRACE=0 leave it off, as one
// would expect of a switch.
bool TraceToStderr() {
    static const bool toStderr = [] {
        const char* value = std::getenv("VGL_TRACE");
        return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
    }();
    return toStderr;
}

}  // namespace

void GWTrace(const char* message, const char* file, int line) {
    const TraceSink& sink = Sink();
    const bool toStderr = TraceToStderr();
    if (!sink && !toStderr) {
        return;
    }
    const char* name = BaseName(file ? file : "");
    const char* text = message ? message : "";
    int size = std::snprintf(nullptr, 0, "%s in %s at line %d\n", text, name, line);
    std::string formatted(static_cast<size_t>(size), '\0');
    std::snprintf(formatted.data(), formatted.size() + 1, "%s in %s at line %d\n", text, name, line);
    if (toStderr) {
        std::fputs(formatted.c_str(), stderr);
    }
    if (sink) {
        sink(formatted);
    }
}

void SetTraceSink(TraceSink sink) { Sink() = std::move(sink); }
