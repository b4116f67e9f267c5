#include "link/DspMessageReader.h"

namespace zelvor
{
DspReadResult readDspMessage (juce::InputStream& stream, std::uint8_t* buffer, int bufferSize, int& size)
{
    size = 0;
    while (! stream.isExhausted())
    {
        if ((std::uint8_t) stream.readByte() == 0xF0)
        {
            buffer[size++] = 0xF0;
            break;
        }
    }

    if (size == 0)
        return DspReadResult::endOfStream;

    while (! stream.isExhausted())
    {
        if (size == bufferSize)
            return DspReadResult::tooLong;

        const auto byte = (std::uint8_t) stream.readByte();
        buffer[size++] = byte;
        if (byte == 0xF7)
            return DspReadResult::message;
    }

    return DspReadResult::endOfStream;
}
} // namespace zelvor

namespace zelvor
{
juce::String checkDspImage (juce::InputStream& stream, int bufferSize)
{
    stream.setPosition (0);

    int dspMessages = 0;
    int size = 0; // bytes of the message being read; 0 between messages
    std::uint8_t head[4]{};

    while (! stream.isExhausted())
    {
        const auto byte = (std::uint8_t) stream.readByte();

        if (size == 0)
        {
            if (byte == 0xF0)
                head[size++] = byte;
            continue; // bytes between messages are skipped by the sender
        }

        if (byte == 0xF7)
        {
            if (size >= 4 && head[1] == 0x00 && head[2] == 0x00 && head[3] == 0x10)
                ++dspMessages;
            size = 0;
            continue;
        }

        // A status byte would reach the unit as a MIDI message of its own; only real-time bytes
        // may stand inside a SysEx.
        if (byte >= 0x80 && byte < 0xF8)
            return "A message holds a MIDI status byte.";

        if (size < 4)
            head[size] = byte;
        if (++size + 1 > bufferSize) // its F7 would not fit either
            return "A message is longer than " + juce::String (bufferSize) + " bytes.";
    }

    if (size > 0)
        return "The file ends inside a message.";
    if (dspMessages == 0)
        return "The file holds no DSP firmware message.";
    return {};
}

std::vector<int> dspPieceSizes (int size, int maxPiece)
{
    constexpr int shortest = 4;
    if (size <= 0 || maxPiece < 2 * shortest)
        return size > 0 ? std::vector<int>{size} : std::vector<int>{};

    const auto count = (size_t) ((size + maxPiece - 1) / maxPiece);
    std::vector<int> sizes (count, maxPiece);
    sizes.back() = size - maxPiece * (int) (count - 1);
    if (count > 1 && sizes.back() < shortest)
    {
        sizes[count - 2] -= shortest - sizes.back();
        sizes.back() = shortest;
    }
    return sizes;
}
} // namespace zelvor
