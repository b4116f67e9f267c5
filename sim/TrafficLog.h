#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zelvor
{
// The files the virtual runs write (the driver's and the demo's --log, --flash and
// --dsp-received): each is opened as a regular file only, even if the path changed since the
// arguments were checked, so a device or a FIFO is never written to.

// Opens an output for writing, truncated; -1 when it cannot be opened or is no regular file.
int openOutput (const juce::File& file);

// Writes all the bytes, through interrupted and partial writes.
bool writeAll (int fd, const void* data, size_t size);

// Writes a whole output file; false on any failure.
bool writeOutput (const juce::File& file, const std::vector<std::uint8_t>& bytes);

// One line per MIDI message in either direction, "<ms> <dir> <bytes>": protocol milliseconds
// since the log was opened, '>' to the unit or '<' from it, upper-case hex bytes. Each line is
// written as it happens.
class TrafficLog
{
public:
    explicit TrafficLog (const juce::File& file);
    ~TrafficLog();

    bool isOpen() const;
    // True once a line could not be written.
    bool failed() const;
    void write (bool toUnit, const std::uint8_t* data, int size);

private:
    std::mutex lock; // replies and sends arrive on different threads
    int fd;
    double start;
    std::atomic<bool> writeFailed{false};

    JUCE_DECLARE_NON_COPYABLE (TrafficLog)
};
} // namespace zelvor
