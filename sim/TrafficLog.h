#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <fstream>
#include <mutex>

namespace zelvor
{
// One line per MIDI message in either direction, "<ms> <dir> <bytes>": protocol milliseconds
// since the log was opened, '>' to the unit or '<' from it, upper-case hex bytes.
class TrafficLog
{
public:
    explicit TrafficLog (const juce::File& file);

    bool isOpen() const;
    void write (bool toUnit, const std::uint8_t* data, int size);

private:
    std::mutex lock; // replies and sends arrive on different threads
    std::ofstream out;
    double start;
};
} // namespace zelvor
