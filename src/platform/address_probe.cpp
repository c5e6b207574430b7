// HEAD probes of one submission's candidate addresses, settled as soon as the winner is certain.
#include "platform/address_probe.h"

#include <glib.h>

namespace qv {

AddressProbe::AddressProbe(
    std::vector<std::string> candidates, std::chrono::milliseconds timeout, Decided decided)
    : m_candidates(std::move(candidates))
    , m_answers(m_candidates.size())
    , m_decided(std::move(decided))
    , m_client(std::make_unique<HttpClient>())
{
    for (size_t i = 0; i < m_candidates.size(); ++i) {
        // The client never calls back once it is gone, and this probe owns it.
        bool sent = m_client->head(m_candidates[i], timeout,
            [this, i](std::optional<int> status) { answered(i, status); });
        if (!sent)
            m_answers[i].finished = true;
    }
    // Nothing may be decided before the caller has the probe in hand.
    if (m_client->pendingCount() == 0) {
        m_idleSource = g_idle_add(
            +[](gpointer data) -> gboolean {
                auto* self = static_cast<AddressProbe*>(data);
                self->m_idleSource = 0;
                self->settle();
                return G_SOURCE_REMOVE;
            },
            this);
    }
}

AddressProbe::~AddressProbe()
{
    if (m_idleSource)
        g_source_remove(m_idleSource);
}

void AddressProbe::answered(size_t index, std::optional<int> status)
{
    m_answers[index] = { true, status };
    settle();
}

void AddressProbe::settle()
{
    if (m_settled)
        return;
    SettledProbe outcome = settledProbe(m_answers);
    if (outcome.settlement == ProbeSettlement::Pending)
        return;
    m_settled = true;
    std::optional<std::string> winner;
    if (outcome.settlement == ProbeSettlement::Winner)
        winner = m_candidates[outcome.winner];
    // Gives up the later candidates; their callbacks never run.
    m_client.reset();
    Decided decided = std::move(m_decided);
    decided(std::move(winner));
}

} // namespace qv
