#include "link/PortDiscovery.h"

namespace zelvor
{
int findUnitPort (const juce::StringArray& portNames)
{
    for (int i = 0; i < portNames.size(); ++i)
        if (portNames[i].containsIgnoreCase (unitPortWord))
            return i;

    return -1;
}

bool openUnitPorts (std::unique_ptr<MidiInputPort>& input,
                    std::unique_ptr<MidiOutputPort>& output,
                    juce::MidiInputCallback* callback)
{
    auto& service = MidiPortService::current();

    input = nullptr;
    const auto inputIndex = findUnitPort (service.getInputNames());
    if (inputIndex >= 0)
    {
        input = service.openInput (inputIndex, callback);
        if (input != nullptr)
            input->start();
    }

    output = nullptr;
    const auto outputIndex = findUnitPort (service.getOutputNames());
    if (outputIndex >= 0)
        output = service.openOutput (outputIndex);

    return input != nullptr && output != nullptr;
}

void closeUnitPorts (std::unique_ptr<MidiInputPort>& input, std::unique_ptr<MidiOutputPort>& output)
{
    if (input != nullptr)
    {
        // Stopped, then deleted; deleting waits for a receive callback in progress, so none
        // runs on a port that is gone.
        input->stop();
        input = nullptr;
    }

    output = nullptr;
}
} // namespace zelvor
