#include "sim/UnitOutputs.h"

#include "sim/VirtualMidiService.h"
#include "sim/VirtualUnit.h"

namespace zelvor
{
UnitOutputs::UnitOutputs (VirtualMidiService& s,
                          const juce::File& logTo,
                          const juce::File& flashTo,
                          const juce::File& dspTo)
    : service (s), logFile (logTo), flashFile (flashTo), dspReceivedFile (dspTo)
{
    if (logFile == juce::File())
        return;

    log = std::make_unique<TrafficLog> (logFile);
    if (! log->isOpen())
    {
        failed.add (logFile.getFullPathName());
        log = nullptr;
        return;
    }
    service.setTrafficTap ([this] (bool toUnit, const std::uint8_t* data, int size)
                           { log->write (toUnit, data, size); });
}

UnitOutputs::~UnitOutputs()
{
    if (log != nullptr)
        service.setTrafficTap (nullptr);
}

void UnitOutputs::finish (const VirtualUnit& unit)
{
    if (finished)
        return;
    finished = true;

    if (flashFile != juce::File() && ! writeOutput (flashFile, unit.flash()))
        failed.add (flashFile.getFullPathName());
    if (dspReceivedFile != juce::File() && ! writeOutput (dspReceivedFile, unit.dspReceived()))
        failed.add (dspReceivedFile.getFullPathName());

    if (log != nullptr)
    {
        service.setTrafficTap (nullptr);
        if (log->failed())
            failed.add (logFile.getFullPathName());
        log = nullptr;
    }
}
} // namespace zelvor
