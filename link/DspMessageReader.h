#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

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

// The sizes of the pieces a DSP message of `size` bytes is sent in where the MIDI layer takes
// pieces: as many as pieces of `maxPiece` bytes need, each at most that long and none shorter
// than 4 bytes. (JUCE's Windows output sends a piece of 1 to 3 bytes that does not start with F0
// as a short message made from the bytes after it in memory, so a message's end would be lost.)
std::vector<int> dspPieceSizes (int size, int maxPiece);
} // namespace zelvor
