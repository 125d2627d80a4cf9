#pragma once
// What vgl-proxy does at the word of a monitor client whose key is marked
// `act`: closes a connection by its ids, sets and lifts blocks (kept in the
// --blocks-file when there is one), lists them. Called on the monitor's
// threads while sessions run on others; changes go one at a time, so that
// the file always holds the list as the last change left it.

#include <mutex>
#include <string>

#include "MonitorControl.h"
#include "ProxyContext.h"

class ProxyControl : public MonitorControl {
public:
    // `idHigh`: the hub's; `blocksPath`: empty to keep the blocks in memory only.
    ProxyControl(ProxyContext& context, uint32_t idHigh, std::string blocksPath);
    // The blocks of the file, at the start; false with a message naming it.
    bool Load(std::string& error);

    uint32_t Abilities(std::string& whyNot) const override;
    MonControlAnswer Close(const ControlCaller& caller, uint32_t idHigh, uint32_t idLow) override;
    MonControlAnswer Block(const ControlCaller& caller, const MonControlRequest& request) override;
    MonControlAnswer Lift(const ControlCaller& caller, uint32_t blockId) override;
    std::vector<MonBlock> Blocks() const override;
    void Answered(MonControlOp op, MonControlStatus status) override;

private:
    // Counts the answer in the metrics and hands it on.
    MonControlAnswer Answer(MonControlOp op, MonControlStatus status, std::string text,
                            uint32_t value = 0, uint32_t closed = 0) const;
    // Under m_Mutex: the list as it is now, to the file; true without one.
    bool Save(std::string& error) const;
    // What a Block answer says of how long the block lasts.
    std::string Lasting(uint32_t seconds) const;

    ProxyContext& m_Context;
    const uint32_t m_IdHigh;
    const std::string m_BlocksPath;
    std::mutex m_Mutex;
};
