// The percentage on the progress bar must be readable wherever the bar has got to: on the pale
// track, on the blue fill, and across the edge between them.

#include "look/ZelvorLookAndFeel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace zelvor
{
namespace
{
    double luminance (juce::Colour c)
    {
        auto channel = [] (juce::uint8 v)
        {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow ((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel (c.getRed()) + 0.7152 * channel (c.getGreen()) + 0.0722 * channel (c.getBlue());
    }

    double contrast (juce::Colour a, juce::Colour b)
    {
        const double la = luminance (a), lb = luminance (b);
        return (std::max (la, lb) + 0.05) / (std::min (la, lb) + 0.05);
    }

    class ProgressText : public ::testing::Test
    {
    protected:
        ProgressText()
        {
            juce::LookAndFeel::setDefaultLookAndFeel (&look);
        }
        ~ProgressText() override
        {
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        }

        juce::Image draw (double progress, const juce::String& text)
        {
            juce::Image image (juce::Image::ARGB, width, height, true);
            juce::Graphics g (image);
            g.fillAll (juce::Colours::white); // the alert box behind the bar
            look.drawProgressBar (g, bar, width, height, progress, text);
            return image;
        }

        // Of the pixels the text changed, the share that stands out from the bar beneath them by
        // at least the contrast that small text needs.
        double legibleShare (double progress, const juce::String& text)
        {
            const auto plain = draw (progress, {});
            const auto written = draw (progress, text);
            int drawn = 0, legible = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                {
                    const auto under = plain.getPixelAt (x, y), over = written.getPixelAt (x, y);
                    if (under == over)
                        continue;
                    ++drawn;
                    legible += contrast (under, over) >= 4.5 ? 1 : 0;
                }
            return drawn == 0 ? 0.0 : (double) legible / drawn;
        }

        static constexpr int width = 278, height = 22;
        juce::ScopedJuceInitialiser_GUI gui;
        ZelvorLookAndFeel look;
        double value = 0.0;
        juce::ProgressBar bar{value};
    };
} // namespace

TEST_F (ProgressText, StandsOutOnTrackFillAndTheEdgeBetween)
{
    // Empty (all track), full (all fill), and half way, where the text straddles the edge.
    for (double progress : {0.0, 1.0, 0.5})
    {
        const auto text = juce::String (juce::roundToInt (progress * 100)) + "%";
        EXPECT_GT (legibleShare (progress, text), 0.1) << "at " << progress;
    }
}
} // namespace zelvor
