#include "sim/MidiStreamAssembler.h"

namespace zelvor
{
namespace
{
    int channelMessageLength (std::uint8_t status)
    {
        switch (status & 0xF0)
        {
            case 0xC0:
            case 0xD0:
                return 2;
            default:
                return 3;
        }
    }

    int systemCommonLength (std::uint8_t status)
    {
        switch (status)
        {
            case 0xF1:
            case 0xF3:
                return 2;
            case 0xF2:
                return 3;
            default:
                return 1; // F4, F5, F6
        }
    }
} // namespace

void MidiStreamAssembler::reset()
{
    pending.clear();
    expectedLength = 0;
}

void MidiStreamAssembler::feed (const std::uint8_t* data, int size, const Sink& sink)
{
    for (int i = 0; i < size; ++i)
    {
        const auto byte = data[i];

        if (byte >= 0xF8)
        {
            // Real-time bytes may interleave with anything and leave it intact.
            sink (&byte, 1);
            continue;
        }

        if (byte == 0xF7)
        {
            if (! pending.empty() && pending.front() == 0xF0)
            {
                pending.push_back (byte);
                sink (pending.data(), static_cast<int> (pending.size()));
            }
            reset();
            continue;
        }

        if (byte >= 0x80)
        {
            // Any other status byte starts a new message, cutting an unfinished one.
            pending.assign (1, byte);
            if (byte == 0xF0)
                expectedLength = 0;
            else
                expectedLength = byte >= 0xF0 ? systemCommonLength (byte) : channelMessageLength (byte);
        }
        else if (pending.empty())
        {
            continue; // stray data byte outside a message
        }
        else
        {
            pending.push_back (byte);
            if (pending.front() == 0xF0 && pending.size() > maxSysexSize)
                reset();
        }

        if (! pending.empty() && expectedLength > 0 && static_cast<int> (pending.size()) == expectedLength)
        {
            sink (pending.data(), static_cast<int> (pending.size()));
            reset();
        }
    }
}
} // namespace zelvor
