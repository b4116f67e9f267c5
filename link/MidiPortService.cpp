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

namespace
{
    juce::StringArray namesOf (const juce::Array<MidiPortInfo>& ports)
    {
        juce::StringArray names;
        for (const auto& port : ports)
            names.add (port.name);
        return names;
    }
} // namespace

juce::StringArray MidiPortService::getInputNames()
{
    return namesOf (listInputs());
}

juce::StringArray MidiPortService::getOutputNames()
{
    return namesOf (listOutputs());
}

std::unique_ptr<MidiInputPort> MidiPortService::openInput (int index, juce::MidiInputCallback* callback)
{
    const auto ports = listInputs();
    return juce::isPositiveAndBelow (index, ports.size()) ? openInputPort (ports[index].identifier, callback) : nullptr;
}

std::unique_ptr<MidiOutputPort> MidiPortService::openOutput (int index)
{
    const auto ports = listOutputs();
    return juce::isPositiveAndBelow (index, ports.size()) ? openOutputPort (ports[index].identifier) : nullptr;
}

void MidiPortService::install (MidiPortService* service)
{
    installedService.store (service, std::memory_order_release);
}
} // namespace zelvor
