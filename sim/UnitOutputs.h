#pragma once

#include "sim/TrafficLog.h"

#include <juce_core/juce_core.h>

#include <memory>

namespace zelvor
{
class VirtualMidiService;
class VirtualUnit;

// What a program of the rig writes from its virtual unit (--log, --flash, --dsp-received): the
// traffic log line by line as the run goes, the flash and the DSP image received at its end.
class UnitOutputs
{
public:
    // Opens the log, if one is asked for, and taps the service's traffic into it.
    UnitOutputs (VirtualMidiService& service,
                 const juce::File& logFile,
                 const juce::File& flashFile,
                 const juce::File& dspReceivedFile);
    ~UnitOutputs(); // stops the tap

    // Writes the flash and the DSP image the unit received, whatever the run's outcome, and
    // stops the log. Once only; later calls write nothing.
    void finish (const VirtualUnit& unit);

    // The paths that could not be written: the log when it cannot be opened (known at once),
    // and after finish any output that failed.
    const juce::StringArray& unwritten() const
    {
        return failed;
    }

private:
    VirtualMidiService& service;
    juce::File logFile, flashFile, dspReceivedFile;
    std::unique_ptr<TrafficLog> log;
    juce::StringArray failed;
    bool finished = false;

    JUCE_DECLARE_NON_COPYABLE (UnitOutputs)
};
} // namespace zelvor
