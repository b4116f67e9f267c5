#pragma once

#include "sim/VirtualUnit.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

namespace zelvor
{
// The demo's stand-in for the hardware on the desk: shows the virtual unit's state and counters
// and lets a person plug it in or out, power-cycle it, hold its ports as another program would,
// and choose how it misbehaves.
class VirtualUnitWindow : public juce::DocumentWindow
{
public:
    VirtualUnitWindow (VirtualUnit& unit,
                       const juce::String& initialFault,
                       bool portsHeld,
                       const juce::String& title = "Virtual Zelvor");
    ~VirtualUnitWindow() override;

    // Closing it would leave the updater without its unit; the updater's own quit ends both.
    void closeButtonPressed() override;

    static constexpr int width = 340;
    static constexpr int height = 270;

    // Where its plug, power-cycle and hold buttons lie in its content.
    static std::array<juce::Rectangle<int>, 3> buttonBounds();

    class Panel;
};

// Whether the flash holds every block of the built-in QEX image, and whether the DSP bytes
// received are exactly the built-in DSP image.
bool flashHoldsBuiltInQexImage (const std::vector<std::uint8_t>& flash);
bool dspBytesAreBuiltInDspImage (const std::vector<std::uint8_t>& received);
} // namespace zelvor
