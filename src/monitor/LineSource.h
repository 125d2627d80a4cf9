#pragma once
// Where Dante's lines come from: its log file, or its unit's journal. Both
// are read without blocking, from the main loop and before each batch.

#include <cstddef>
#include <string>
#include <vector>

class LineSource {
public:
    virtual ~LineSource() = default;
    // "/var/log/danted.log", "the journal of danted.service".
    virtual std::string Name() const = 0;
    // The lines, at most `maxBytes` of them, written before now: a monitor
    // that starts late learns from them the sessions already open. Reading
    // then goes on from here.
    virtual void Recent(std::vector<std::string>& lines, size_t maxBytes) = 0;
    // The complete lines that arrived since the last call, appended; a line
    // still being written waits for its end.
    virtual void Poll(std::vector<std::string>& lines) = 0;
    // Why nothing can be read now ("... cannot be read: Permission denied");
    // empty while the source reads. Poll keeps trying.
    virtual std::string Problem() const = 0;
};
