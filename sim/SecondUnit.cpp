#include "sim/SecondUnit.h"

#include "sim/TrafficLog.h"

namespace zelvor
{
juce::StringArray SecondUnit::kinds()
{
    return {"none", "running", "loader", "silent"};
}

SecondUnit::SecondUnit (VirtualMidiService& service, const juce::String& kind)
{
    if (kind == "running" || kind == "loader")
    {
        VirtualUnit::Options options;
        options.startInLoader = kind == "loader";
        secondUnit = std::make_unique<VirtualUnit> (service, options);
    }
    else if (kind == "silent")
    {
        service.addOtherDevice (VirtualUnit::Options().inputPortName);
    }
}

bool SecondUnit::writeOutputs (const juce::File& flash, const juce::File& dspReceived) const
{
    bool written = true;
    if (flash != juce::File())
        written =
            writeOutput (flash, secondUnit != nullptr ? secondUnit->flash() : std::vector<std::uint8_t>()) && written;
    if (dspReceived != juce::File())
        written = writeOutput (dspReceived,
                               secondUnit != nullptr ? secondUnit->dspReceived() : std::vector<std::uint8_t>()) &&
                  written;
    return written;
}
} // namespace zelvor
