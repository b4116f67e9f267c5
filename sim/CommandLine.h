#pragma once

#include <juce_core/juce_core.h>

// What the simulator's command-line programs (the headless driver, the USB unit) share in
// reading their options.
namespace zelvor::CommandLine
{
// A whole number text, nothing before or after it, finite.
bool parseNumber (const juce::String& text, double& value);

// True when the path is absent or names a regular file (through links): the only things an
// output may replace.
bool absentOrRegular (const juce::File& file);

// The virtual unit's fault scenarios on stdout, one per line with what each does.
void printFaults();
} // namespace zelvor::CommandLine
