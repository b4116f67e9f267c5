#pragma once

#include "link/MidiPortService.h"

#include <memory>

namespace zelvor
{
// The unit's ports are the ones whose names contain this word, in any letter case.
constexpr const char* unitPortWord = "Zelvor";

// Index of the first name that contains the port word, or -1.
int findUnitPort (const juce::StringArray& portNames);

// Opens (and starts) the unit's input and opens its output from fresh port lists. Both slots are
// set to null first; returns true only when both then hold open ports. A port that opened stays
// open when the other did not. Callers close what the slots held before.
bool openUnitPorts (std::unique_ptr<MidiInputPort>& input,
                    std::unique_ptr<MidiOutputPort>& output,
                    juce::MidiInputCallback* callback);

// Stops and deletes the input, then deletes the output; empty slots are left alone.
void closeUnitPorts (std::unique_ptr<MidiInputPort>& input, std::unique_ptr<MidiOutputPort>& output);
} // namespace zelvor
