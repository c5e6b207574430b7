// HEAD probes of one submission's candidate addresses, settled as soon as the winner is certain.
#pragma once

#include "navigation/address_resolution.h"
#include "platform/http_client.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class AddressProbe {
public:
    // The winning address, or nothing when no candidate answered.
    using Decided = std::function<void(std::optional<std::string>)>;

    // Probes every candidate at once. `decided` runs exactly once, later, on the main context,
    // unless the probe is destroyed first; the probes still out then are given up.
    AddressProbe(
        std::vector<std::string> candidates, std::chrono::milliseconds timeout, Decided decided);
    ~AddressProbe();
    AddressProbe(const AddressProbe&) = delete;
    AddressProbe& operator=(const AddressProbe&) = delete;

    bool settled() const { return m_settled; }
    size_t pendingCount() const { return m_client ? m_client->pendingCount() : 0; }

private:
    void answered(size_t index, std::optional<int> status);
    void settle();

    std::vector<std::string> m_candidates;
    std::vector<ProbeAnswer> m_answers;
    Decided m_decided;
    std::unique_ptr<HttpClient> m_client;
    bool m_settled = false;
    unsigned m_idleSource = 0;
};

} // namespace qv
