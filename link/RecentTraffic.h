#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace zelvor
{
// The last few messages each way between the link and the unit, by kind and length only (never
// their bytes: a failure's details go to support, the firmware does not). Noted by the threads
// that send and receive, each entry one atomic word, so that a reader never waits on them.
class RecentTraffic
{
public:
    static constexpr int kept = 6;

    struct Entry
    {
        const char* kind = "";
        int length = 0;
        std::uint32_t atMs = 0; // juce::Time::getMillisecondCounter() when it was noted
    };

    void noteSent (const std::uint8_t* bytes, int size);
    void noteReceived (const std::uint8_t* bytes, int size);

    // Oldest first.
    std::vector<Entry> sent() const;
    std::vector<Entry> received() const;

private:
    struct Direction
    {
        std::array<std::atomic<std::uint64_t>, kept> entries{};
        std::atomic<std::uint32_t> count{0};
        void note (const std::uint8_t* bytes, int size);
        std::vector<Entry> read() const;
    };
    Direction out, in;
};
} // namespace zelvor
