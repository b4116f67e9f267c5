#pragma once

#include "sim/VirtualUnit.h"

#include <memory>

namespace zelvor
{
// A second device beside the virtual unit, listed after it, as a musician's desk can have one:
// another unit running its firmware, another unit in its loader, or "silent", ports named like
// the unit's that never answer (another program's port whose name happens to contain the word).
class SecondUnit
{
public:
    // The kinds the programs' --second-unit takes; "none" adds nothing.
    static juce::StringArray kinds();

    SecondUnit (VirtualMidiService& service, const juce::String& kind);

    // The second unit, or null for "none" and "silent".
    VirtualUnit* unit() const
    {
        return secondUnit.get();
    }

    // Writes its flash and its received DSP bytes where a file is given (empty files for a
    // silent one, which holds nothing); false when one could not be written.
    bool writeOutputs (const juce::File& flash, const juce::File& dspReceived) const;

private:
    std::unique_ptr<VirtualUnit> secondUnit;
};
} // namespace zelvor
