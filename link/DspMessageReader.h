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

// Why a DSP image cannot be sent as it is, or an empty string when it can: every message must
// end with its F7, fit a buffer of bufferSize bytes and hold no status byte other than real-time
// ones, and at least one must be a message of the DSP family. Reads the stream from its start.
juce::String checkDspImage (juce::InputStream& stream, int bufferSize);
} // namespace zelvor
