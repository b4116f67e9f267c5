#pragma once

#include "link/FirmwareManager.h"

namespace zelvor
{
// What a failure box's "Copy details" puts on the clipboard for support: the program's and its
// built-in images' versions, the system and its MIDI service, every port name seen, what the
// unit said it was, where the run stopped (its step, counts and time) and the last messages
// each way, by kind and length only. `whatRan` names the run ("full update, QEX phase").
juce::String runDetails (const FirmwareManager& link, const juce::String& whatRan);
} // namespace zelvor
