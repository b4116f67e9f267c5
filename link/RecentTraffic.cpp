#include "link/RecentTraffic.h"

#include "link/SysexCodec.h"

#include <juce_core/juce_core.h>

#include <algorithm>

namespace zelvor
{
namespace
{
    // time (32 bits) | kind (8 bits) | length (24 bits)
    constexpr std::uint64_t lengthMask = 0xFFFFFF;

    std::uint64_t pack (std::uint32_t atMs, int kind, int length)
    {
        const auto clamped = (std::uint64_t) std::clamp (length, 0, (int) lengthMask);
        return (std::uint64_t{atMs} << 32) | ((std::uint64_t) kind << 24) | clamped;
    }
} // namespace

void RecentTraffic::Direction::note (const std::uint8_t* bytes, int size)
{
    const auto kind = (int) Sysex::kindOf (bytes, size);
    const auto slot = count.fetch_add (1) % (std::uint32_t) kept;
    entries[slot].store (pack (juce::Time::getMillisecondCounter(), kind, size), std::memory_order_release);
}

std::vector<RecentTraffic::Entry> RecentTraffic::Direction::read() const
{
    const auto noted = count.load (std::memory_order_acquire);
    const auto first = noted > (std::uint32_t) kept ? noted - (std::uint32_t) kept : 0u;
    std::vector<Entry> result;
    for (auto i = first; i < noted; ++i)
    {
        const auto word = entries[i % (std::uint32_t) kept].load (std::memory_order_acquire);
        Entry entry;
        entry.atMs = (std::uint32_t) (word >> 32);
        entry.kind = Sysex::kindName ((Sysex::MessageKind) ((word >> 24) & 0xFF));
        entry.length = (int) (word & lengthMask);
        result.push_back (entry);
    }
    return result;
}

void RecentTraffic::noteSent (const std::uint8_t* bytes, int size)
{
    out.note (bytes, size);
}

void RecentTraffic::noteReceived (const std::uint8_t* bytes, int size)
{
    in.note (bytes, size);
}

std::vector<RecentTraffic::Entry> RecentTraffic::sent() const
{
    return out.read();
}

std::vector<RecentTraffic::Entry> RecentTraffic::received() const
{
    return in.read();
}
} // namespace zelvor
