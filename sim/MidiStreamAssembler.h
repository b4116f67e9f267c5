#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zelvor
{
// Cuts a raw MIDI byte stream into whole messages, as a MIDI receiver does: a SysEx may arrive
// in any number of pieces and ends at its F7; real-time bytes (F8..FF) may come anywhere, even
// inside a SysEx, and pass on as messages of their own without breaking it; any other status
// byte starts a new message and so ends an unfinished one, which is dropped; data bytes outside
// a message are dropped.
class MidiStreamAssembler
{
public:
    using Sink = std::function<void (const std::uint8_t* data, int size)>;

    // Longest SysEx kept; anything longer is a runaway stream, not a message, and is dropped.
    static constexpr std::size_t maxSysexSize = 65536;

    // Feeds bytes; each message completed by them goes to the sink, in stream order.
    void feed (const std::uint8_t* data, int size, const Sink& sink);

    // Forgets an unfinished message.
    void reset();

    bool isInsideMessage() const
    {
        return ! pending.empty();
    }

private:
    std::vector<std::uint8_t> pending;
    int expectedLength = 0; // 0 inside a SysEx (or idle when pending is empty)
};
} // namespace zelvor
