// Reads arbitrary bytes as a DSP image with readDspMessage, as the replay does, and checks every
// result against a plain model of the format: skip to an F0, the message runs to the next F7.

#include "fuzz/FuzzSupport.h"
#include "link/DspMessageReader.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

#include <BinaryData.h>

#include <algorithm>
#include <cstring>

using namespace zelvor;
using namespace zelvor::fuzz;

namespace
{
constexpr int bufferSize = Protocol::dspMessageBufferSize;

std::vector<Bytes> makeSeeds()
{
    const auto* image = reinterpret_cast<const std::uint8_t*> (BinaryData::dspImage_syx);
    auto fixed = [] (const Sysex::FixedMessage& m) { return Bytes (m.bytes, m.bytes + m.size); };

    // The longest message that fits, and one byte more, with stray bytes around them.
    Bytes fits{0x00, 0xF0};
    fits.resize (bufferSize, 0x01);
    fits.push_back (0xF7);
    Bytes tooLong = fits;
    tooLong.insert (tooLong.begin() + 2, 0x02);

    Bytes startImageEnd = fixed (Sysex::dspStartMessage);
    startImageEnd.insert (startImageEnd.end(), image, image + 400);
    const auto end = fixed (Sysex::dspEndMessage);
    startImageEnd.insert (startImageEnd.end(), end.begin(), end.end());

    return {Bytes (image, image + 2048), fits, tooLong, startImageEnd, Bytes{0xF0, 0x01, 0xF0, 0x02}};
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    writeSeedsIfAsked (makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    {
        // An image the check lets through replays as whole messages to its end, none of them
        // holding a status byte, at least one of the DSP family.
        juce::MemoryInputStream checked (data, size, false);
        if (checkDspImage (checked, bufferSize).isEmpty())
        {
            checked.setPosition (0);
            std::uint8_t message[bufferSize];
            int length = 0, dspMessages = 0;
            DspReadResult read;
            while ((read = readDspMessage (checked, message, bufferSize, length)) == DspReadResult::message)
            {
                require (std::none_of (
                             message + 1, message + length - 1, [] (std::uint8_t b) { return b >= 0x80 && b < 0xF8; }),
                         "no status byte inside an accepted message");
                dspMessages += length >= 4 && message[1] == 0x00 && message[2] == 0x00 && message[3] == 0x10;
            }
            require (read == DspReadResult::endOfStream &&
                         std::find (data + checked.getPosition(), data + size, std::uint8_t{0xF0}) == data + size,
                     "an accepted image replays to its end");
            require (dspMessages > 0, "an accepted image holds a DSP message");
        }
    }

    juce::MemoryInputStream stream (data, size, false);

    // Exactly the buffer's size on the heap, so a write past it is an ASan report.
    auto buffer = std::make_unique<std::uint8_t[]> (bufferSize);
    const auto* const inputEnd = data + size;
    const auto* next = data;

    while (true)
    {
        int got = -1;
        const auto result = readDspMessage (stream, buffer.get(), bufferSize, got);
        require (got >= 0 && got <= bufferSize, "the size stays within the buffer");

        const auto* start = std::find (next, inputEnd, std::uint8_t{0xF0});
        if (start == inputEnd)
        {
            require (result == DspReadResult::endOfStream && got == 0, "no F0 left means the end");
            return 0;
        }

        const auto* end = std::find (start + 1, inputEnd, std::uint8_t{0xF7});
        const auto run = (size_t) (end == inputEnd ? inputEnd - start : end - start + 1);
        if (run > (size_t) bufferSize)
        {
            require (result == DspReadResult::tooLong, "a run longer than the buffer is too long");
            require (got == bufferSize && std::memcmp (buffer.get(), start, (size_t) bufferSize) == 0,
                     "the buffer holds the run's start");
            return 0;
        }

        if (end == inputEnd)
        {
            require (result == DspReadResult::endOfStream, "an unterminated last run is no message");
            return 0;
        }

        require (result == DspReadResult::message, "a whole F0..F7 run that fits is a message");
        require ((size_t) got == run && std::memcmp (buffer.get(), start, run) == 0,
                 "the message is the input's next run");
        require (buffer[0] == 0xF0 && buffer[(size_t) got - 1] == 0xF7, "framed by F0 and F7");
        require (std::find (buffer.get(), buffer.get() + got - 1, std::uint8_t{0xF7}) == buffer.get() + got - 1,
                 "no F7 before the end");

        next = end + 1;
        require (stream.getPosition() == next - data, "the stream stops right after the message");
    }
}
