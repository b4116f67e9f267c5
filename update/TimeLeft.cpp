#include "update/TimeLeft.h"

#include "update/Texts.h"

#include <algorithm>
#include <cmath>

namespace zelvor
{
juce::String TimeLeft::update (double nowMs, double progress)
{
    if (startMs < 0.0)
    {
        if (progress <= 0.0)
            return {};
        startMs = nowMs;
        startProgress = progress;
        return {};
    }

    const double done = progress - startProgress;
    const double elapsed = nowMs - startMs;
    if (shownSeconds < 0.0 && (elapsed < seenForMs || done < seenProgress))
        return {};

    if (done > 0.0)
    {
        const double estimate = elapsed / done * std::max (0.0, 1.0 - progress) / 1000.0;
        shownSeconds = shownSeconds < 0.0 ? estimate : std::min (shownSeconds, estimate);
    }

    const auto minutes = (int) std::lround (shownSeconds / 60.0);
    if (shownSeconds < 45.0)
        return Texts::lessThanAMinuteLeft;
    if (minutes <= 1)
        return Texts::aboutAMinuteLeft;
    return juce::String::formatted (Texts::aboutMinutesLeft, minutes);
}
} // namespace zelvor
