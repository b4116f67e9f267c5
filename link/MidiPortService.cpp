#include "link/MidiPortService.h"

#include <atomic>

namespace zelvor
{
namespace
{
    std::atomic<MidiPortService*> installedService{nullptr};
}

MidiPortService& MidiPortService::current()
{
    if (auto* service = installedService.load (std::memory_order_acquire))
        return *service;

    static JuceMidiPortService systemService;
    return systemService;
}

void MidiPortService::install (MidiPortService* service)
{
    installedService.store (service, std::memory_order_release);
}
} // namespace zelvor
