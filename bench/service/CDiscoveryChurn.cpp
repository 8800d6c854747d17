// The window thread of the churning passes: an event loop, the discovery object and its list.
#include "bench/service/CDiscoveryChurn.h"

#include "platform/ui/CEventLoop.h"
#include "storage/CServerDiscovery.h"
#include "storage/CServerRowList.h"

#include <string_view>

namespace {

constexpr int kPassTimer = 1;
// How often the loop looks at the stop flag while no work arrives.
constexpr std::chrono::milliseconds kStopCheck{50};
constexpr int kStopTimer = 2;

} // namespace

CDiscoveryChurn::CDiscoveryChurn(COrvaneSrvCore& core, CSlpFunctions slp,
                                 std::chrono::milliseconds period)
    : m_thread(&CDiscoveryChurn::Run, this, std::ref(core), slp, period) {}

CDiscoveryChurn::~CDiscoveryChurn() {
    m_bStop = true;
    m_thread.join();
}

void CDiscoveryChurn::Run(COrvaneSrvCore& core, CSlpFunctions slp,
                          std::chrono::milliseconds period) {
    CEventLoop loop;
    CServerRowList list;
    CServerDiscovery::CHooks hooks;
    hooks.logLine = [](std::string_view) {}; // a benchmark's table stays readable
    const std::unique_ptr<CServerDiscovery> pDiscovery =
        core.MakeServerTableWorker<CServerDiscovery>(list, loop.Window(), hooks, slp);
    CServerDiscovery& discovery = *pDiscovery;
    const auto startPass = [&] {
        if (discovery.IsDiscovering()) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        discovery.OnTimer();
        discovery.WhenPassEnds([this, start] {
            m_nPassMs += std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
            ++m_nPassesEnded;
        });
    };
    startPass();
    loop.SetTimer(kPassTimer, period, startPass);
    loop.SetTimer(kStopTimer, kStopCheck, [] {});
    loop.RunUntil([this] { return m_bStop.load(); });
    loop.KillTimer(kPassTimer);
    loop.RunUntil([&] { return !discovery.IsDiscovering(); });
    // The pass thread reports its end before it leaves the SLP layer.
    while (discovery.PassThreadRunning()) {
        std::this_thread::sleep_for(kStopCheck);
    }
}
