#pragma once
// Where vgl-proxy keeps the blocks monitor clients set (--blocks-file), so
// that they outlast a restart. The proxy alone writes it, whole each time
// (TOML, mode 0600, replaced by a rename so that a crash leaves the old file
// or the new one); the administrator's configuration file is never touched.

#include <cstdint>
#include <string>
#include <vector>

#include "core/monitor/MonControl.h"

struct BlockState {
    std::vector<MonBlock> m_Blocks;
    uint32_t m_NextId = 1;  // numbers are never given twice, lifted ones included
};

// A file that does not exist yet holds no blocks; one that cannot be read or
// parsed is an error naming it (and the line). Blocks ended by `now` are left out.
bool LoadBlockState(const std::string& path, uint64_t now, BlockState& state, std::string& error);
bool SaveBlockState(const std::string& path, const BlockState& state, std::string& error);
