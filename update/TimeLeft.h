#pragma once

#include <juce_core/juce_core.h>

namespace zelvor
{
// The time a transfer has left, as the progress window tells it ("about 3 minutes left"). The
// pace is taken from the transfer itself, from its first progress on (so a handshake or a restart
// before it counts for nothing), and nothing is told until the pace has been seen for a while.
// What is told never goes up: a person who reads "2 minutes" must not read "4" next.
class TimeLeft
{
public:
    // A new reading: the transfer's progress (0..1) at this time (ms). Returns what to tell, ""
    // while nothing can be told yet.
    juce::String update (double nowMs, double progress);

    // Seen this long at a steady pace before the estimate is told.
    static constexpr double seenForMs = 10000.0;
    static constexpr double seenProgress = 0.03;

private:
    double startMs = -1.0;
    double startProgress = 0.0;
    double shownSeconds = -1.0;
};
} // namespace zelvor
