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
