#pragma once
// What a table tells whoever keeps a record of its connections beyond the
// poll that shows them (the history): each applied record's growth, and each
// connection as it finishes, while the entry is still whole.

#include <cstdint>

#include "core/monitor/MonStream.h"

class EntryObj;

struct TableObserver {
    // After a record was applied to the entry; `opened` for the record that created it.
    virtual void EntryChanged(const EntryObj& entry, uint64_t growthIn, uint64_t growthOut,
                              bool opened) = 0;
    // The entry has just failed or closed with this record; it may be deleted after the call.
    virtual void EntryFinished(const EntryObj& entry, const MonitorRecord& record) = 0;

protected:
    ~TableObserver() = default;
};
