// What the progress window tells of the time left, read as a person reads it during a transfer.

#include "update/TimeLeft.h"
#include "update/Texts.h"

#include <gtest/gtest.h>

namespace zelvor
{
namespace
{
    // The minutes told, -1 for nothing told, 0 for "less than a minute".
    int minutesIn (const juce::String& told)
    {
        if (told.isEmpty())
            return -1;
        if (told == Texts::lessThanAMinuteLeft)
            return 0;
        if (told == Texts::aboutAMinuteLeft)
            return 1;
        return told.upToFirstOccurrenceOf (" minutes", false, false).getTrailingIntValue();
    }
} // namespace

// A 5-minute transfer after a 6 s handshake, read every 200 ms as the update run reads it; a
// 60 s stall in the middle (the unit slow to answer) and a faster end.
TEST (TimeLeft, ToldOnceThePaceIsKnownThenOnlyCountsDown)
{
    TimeLeft timeLeft;
    double progress = 0.0;
    int firstTold = -1, last = -1, toldAt = -1;
    for (int step = 0; step <= 2000; ++step)
    {
        const double now = step * 200.0;
        if (now >= 6000.0 && (now < 150000.0 || now >= 210000.0))
            progress = std::min (1.0, progress + (now < 210000.0 ? 1.0 / 1500.0 : 1.0 / 1000.0));
        const int minutes = minutesIn (timeLeft.update (now, progress));

        if (minutes >= 0 && toldAt < 0)
        {
            toldAt = step;
            firstTold = minutes;
        }
        if (toldAt >= 0)
        {
            ASSERT_GE (minutes, 0) << "told, then nothing at " << now;
            ASSERT_LE (minutes, last < 0 ? minutes : last) << "the time left went up at " << now;
            last = minutes;
        }
    }

    // Nothing during the handshake and the first 10 s of the transfer, then the truth: 290 s of
    // the 300 are left.
    EXPECT_EQ (toldAt * 200.0, 6000.0 + TimeLeft::seenForMs);
    EXPECT_EQ (firstTold, 5);
    EXPECT_EQ (last, 0);
}
} // namespace zelvor
