#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace zelvor
{
enum class DspReadResult
{
    message,     // a whole F0..F7 message is in the buffer
    endOfStream, // no further complete message (an unterminated last one is not one)
    tooLong      // the next message does not fit the buffer
};

// Reads the next message of a DSP image, skipping the bytes before its F0. Never writes past
// bufferSize bytes.
DspReadResult readDspMessage (juce::InputStream& stream, std::uint8_t* buffer, int bufferSize, int& size);
} // namespace zelvor
