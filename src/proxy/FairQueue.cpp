#include "FairQueue.h"

void FairQueue::Push(const Address16& client, Job job, bool ahead) {
    const Address16 key = ClientKey(client);
    Client& state = m_Clients[key];
    state.m_Jobs.push_back(std::move(job));
    ++m_Waiting;
    Offer(key, state, ahead);
}

std::optional<FairQueue::Turn> FairQueue::Take() {
    if (m_Turns.empty()) return std::nullopt;
    Turn turn{m_Turns.front(), {}};
    m_Turns.pop_front();
    Client& state = m_Clients[turn.m_Key];
    state.m_bInTurns = false;
    turn.m_Job = std::move(state.m_Jobs.front());
    state.m_Jobs.pop_front();
    --m_Waiting;
    ++state.m_Running;
    Offer(turn.m_Key, state);
    return turn;
}

void FairQueue::Done(const Address16& key) {
    const auto found = m_Clients.find(key);
    if (found == m_Clients.end()) return;
    Client& state = found->second;
    --state.m_Running;
    if (state.m_Running == 0 && state.m_Jobs.empty()) {
        m_Clients.erase(found);
        return;
    }
    Offer(key, state);
}

void FairQueue::Offer(const Address16& key, Client& client, bool ahead) {
    if (client.m_bInTurns || client.m_Jobs.empty() || client.m_Running >= m_PerKey) return;
    client.m_bInTurns = true;
    if (ahead) {
        m_Turns.push_front(key);
    } else {
        m_Turns.push_back(key);
    }
}
