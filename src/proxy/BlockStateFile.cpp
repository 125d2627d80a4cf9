#include "BlockStateFile.h"

#include "TomlFile.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>

#include "core/base/PrivateFile.h"

namespace {

std::optional<MonBlockWhat> WhatOf(const std::string& name) {
    for (const MonBlockWhat what :
         {MonBlockWhat::User, MonBlockWhat::Client, MonBlockWhat::Destination}) {
        if (name == MonBlockWhatName(what)) return what;
    }
    return std::nullopt;
}

// False with the reason when the table is not a block this program wrote.
bool ReadBlock(const toml::table& table, MonBlock& block, std::string& error) {
    const auto id = table["id"].value<int64_t>();
    const auto what = WhatOf(table["what"].value_or(std::string()));
    const auto value = table["value"].value<std::string>();
    if (!id || *id <= 0 || *id > UINT32_MAX || !what || !value) {
        error = "a block needs an id, what (user, client or destination) and a value";
        return false;
    }
    const std::string problem = MonBlockValueProblem(*what, *value);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    block.m_Id = static_cast<uint32_t>(*id);
    block.m_What = *what;
    block.m_Value = *value;
    block.m_ByName = table["by_name"].value_or(std::string());
    block.m_ByFingerprint = table["by_fingerprint"].value_or(std::string());
    block.m_Since = static_cast<uint64_t>(table["since"].value_or(int64_t{0}));
    block.m_Until = static_cast<uint64_t>(table["until"].value_or(int64_t{0}));
    block.m_Note = table["note"].value_or(std::string());
    return true;
}

}  // namespace

bool LoadBlockState(const std::string& path, uint64_t now, BlockState& state, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return true;  // the first start
    toml::table file;
    if (!ReadTomlFile(path, file, error)) return false;
    state.m_NextId = static_cast<uint32_t>(file["next"].value_or(int64_t{1}));
    const toml::array* blocks = file["block"].as_array();
    if (!blocks) return true;
    for (const toml::node& node : *blocks) {
        const toml::table* table = node.as_table();
        MonBlock block;
        std::string problem = "blocks are written [[block]]";
        if (!table || !ReadBlock(*table, block, problem)) {
            error = path + ":" + std::to_string(node.source().begin.line) + ": " + problem;
            return false;
        }
        if (block.m_Until == 0 || block.m_Until > now) state.m_Blocks.push_back(std::move(block));
    }
    return true;
}

bool SaveBlockState(const std::string& path, const BlockState& state, std::string& error) {
    toml::array blocks;
    for (const MonBlock& block : state.m_Blocks) {
        blocks.push_back(toml::table{
            {"id", static_cast<int64_t>(block.m_Id)},
            {"what", MonBlockWhatName(block.m_What)},
            {"value", block.m_Value},
            {"by_name", block.m_ByName},
            {"by_fingerprint", block.m_ByFingerprint},
            {"since", static_cast<int64_t>(block.m_Since)},
            {"until", static_cast<int64_t>(block.m_Until)},
            {"note", block.m_Note},
        });
    }
    const toml::table file{{"next", static_cast<int64_t>(state.m_NextId)},
                           {"block", std::move(blocks)}};
    std::ostringstream text;
    text << "# The blocks monitor clients set; written by vgl-proxy, not to be edited while it "
            "runs.\n"
         << file << "\n";
    return WritePrivateFile(path, text.str(), error);
}
