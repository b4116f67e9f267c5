// The program's look and feel, drawn into offscreen images: no display is needed.

#include "look/ZelvorLookAndFeel.h"

#include <BinaryData.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace zelvor
{
namespace
{
    using Paint = std::function<void (juce::Graphics&)>;

    juce::Image render (int width, int height, juce::Colour ground, const Paint& paint)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        g.fillAll (ground);
        paint (g);
        return image;
    }

    int distance (juce::Colour a, juce::Colour b)
    {
        return std::max ({std::abs (a.getRed() - b.getRed()),
                          std::abs (a.getGreen() - b.getGreen()),
                          std::abs (a.getBlue() - b.getBlue()),
                          std::abs (a.getAlpha() - b.getAlpha())});
    }

    std::string hex (juce::Colour c)
    {
        return c.toDisplayString (true).toStdString();
    }

    juce::Image decode (const char* data, int size)
    {
        return juce::ImageFileFormat::loadFrom (data, (size_t) size);
    }

    const juce::Colour sentinel (0xffff00ff);

    // Installed as the default, as the program does, so components look their colours up in it.
    class LookAndFeel : public ::testing::Test
    {
    protected:
        LookAndFeel()
        {
            juce::LookAndFeel::setDefaultLookAndFeel (&look);
        }

        ~LookAndFeel() override
        {
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        }

        juce::ScopedJuceInitialiser_GUI gui;
        ZelvorLookAndFeel look;
    };

    //==============================================================================
    TEST_F (LookAndFeel, ButtonsTakeTheirPaletteFromTheirStateAlone)
    {
        struct Case
        {
            const char* name;
            bool enabled, over, down;
            juce::uint32 body;
            float thickness;
            juce::uint32 text;
        };

        const Case cases[] = {
            {"disabled, even under a pressing mouse", false, true, true, 0xffa6a6a9, 0.4f, 0xff808080},
            {"pressed while the mouse is over it", true, true, true, 0xff786fb0, 1.2f, 0xffffffff},
            {"mouse over", true, true, false, 0xff847bc2, 1.2f, 0xffffffff},
            {"idle", true, false, false, 0xffe9e9ed, 0.7f, 0xff000000},
        };

        juce::TextButton button ("HH");
        button.setSize (80, 24);
        button.setColour (juce::TextButton::buttonColourId, juce::Colours::red); // must not show
        button.setColour (juce::TextButton::textColourOffId, juce::Colours::green);

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.name);
            const auto palette = ZelvorLookAndFeel::buttonPalette (c.enabled, c.down, c.over);
            EXPECT_EQ (hex (palette.body), hex (juce::Colour (c.body)));
            EXPECT_FLOAT_EQ (palette.outlineThickness, c.thickness);
            EXPECT_EQ (hex (palette.text), hex (juce::Colour (c.text)));

            // The text pixel that stands out most from the body is drawn in the text colour.
            button.setEnabled (c.enabled);
            const auto body = render (80,
                                      24,
                                      juce::Colours::white,
                                      [&] (juce::Graphics& g)
                                      { look.drawButtonBackground (g, button, juce::Colours::red, c.over, c.down); });
            const auto withText = render (80,
                                          24,
                                          juce::Colours::white,
                                          [&] (juce::Graphics& g)
                                          {
                                              look.drawButtonBackground (g, button, juce::Colours::red, c.over, c.down);
                                              look.drawButtonText (g, button, c.over, c.down);
                                          });

            juce::Colour strongest;
            int best = -1;

            for (int y = 4; y < 20; ++y)
            {
                for (int x = 8; x < 72; ++x)
                {
                    const int d = distance (withText.getPixelAt (x, y), body.getPixelAt (x, y));

                    if (d > best)
                    {
                        best = d;
                        strongest = withText.getPixelAt (x, y);
                    }
                }
            }

            EXPECT_LE (distance (strongest, juce::Colour (c.text)), 10) << hex (strongest);
        }
    }

    class AlertBox : public LookAndFeel
    {
    protected:
        static constexpr int width = 1000;
        static constexpr int height = 120;

        juce::Image draw (juce::MessageBoxIconType type)
        {
            juce::AttributedString text;
            text.append ("Zelvor\n\nUnable to update. Files are corrupted.", juce::Font (15.0f), juce::Colours::black);
            text.setJustification (type == juce::MessageBoxIconType::NoIcon ? juce::Justification::centredTop
                                                                            : juce::Justification::topLeft);
            juce::TextLayout layout;
            layout.createLayoutWithBalancedLineLengths (text, 300.0f);

            const ZelvorLookAndFeel::AlertBoxState state{
                width, height, type, false, 2, juce::Colours::black, juce::Colour (0xff666666)};
            return render (width,
                           height,
                           sentinel,
                           [&] (juce::Graphics& g) { look.drawAlertBoxFor (g, state, textArea, layout); });
        }

        // Columns of the text area that hold message text (near black).
        juce::Range<int> textColumns (const juce::Image& image) const
        {
            int first = width;
            int last = -1;

            for (int y = textArea.getY(); y < 100; ++y)
            {
                for (int x = textArea.getX(); x < textArea.getRight(); ++x)
                {
                    const auto c = image.getPixelAt (x, y);

                    if (c.getRed() < 80 && c.getGreen() < 80 && c.getBlue() < 80)
                    {
                        first = std::min (first, x);
                        last = std::max (last, x);
                    }
                }
            }

            return {first, last + 1};
        }

        const juce::Rectangle<int> textArea{10, 10, width - 20, height - 10};
        const juce::Image background = decode (BinaryData::alertBackground_png, BinaryData::alertBackground_pngSize);
    };

    TEST_F (AlertBox, WarningShowsTiledBackgroundTriangleGlyphOffsetTextAndFrame)
    {
        const auto image = draw (juce::MessageBoxIconType::WarningIcon);

        // Tiled from the origin: the image repeats after its 928 columns.
        EXPECT_EQ (hex (image.getPixelAt (5, 115)), hex (background.getPixelAt (5, 115)));
        EXPECT_EQ (hex (image.getPixelAt (928 + 5, 115)), hex (background.getPixelAt (5, 115)));

        // The pale triangle (apex (55, 20), base (20..90, 80)) and its glyph.
        EXPECT_EQ (hex (image.getPixelAt (30, 75)), "FFF4FFF2");
        EXPECT_EQ (hex (image.getPixelAt (80, 75)), "FFF4FFF2");
        EXPECT_EQ (hex (image.getPixelAt (20, 25)), hex (background.getPixelAt (20, 25)));

        int glyphPixels = 0;

        for (int y = 20; y < 87; ++y)
            for (int x = 20; x < 90; ++x)
                glyphPixels += distance (image.getPixelAt (x, y), juce::Colour (0xff6363cf)) <= 2 ? 1 : 0;

        EXPECT_GT (glyphPixels, 50);

        // The message starts 100 pixels into the text area, left aligned.
        const auto columns = textColumns (image);
        EXPECT_GE (columns.getStart(), textArea.getX() + 100);
        EXPECT_LE (columns.getStart(), textArea.getX() + 104);

        for (const int y : {0, 60, 119})
        {
            EXPECT_EQ (hex (image.getPixelAt (0, y)), "FF666666");
            EXPECT_EQ (hex (image.getPixelAt (width - 1, y)), "FF666666");
        }
    }

    TEST_F (AlertBox, PlainTypeHasNoIconAndCentresItsMessage)
    {
        const auto image = draw (juce::MessageBoxIconType::NoIcon);

        for (const auto& p : {juce::Point<int> (30, 75), juce::Point<int> (55, 50), juce::Point<int> (80, 75)})
            EXPECT_EQ (hex (image.getPixelAt (p.x, p.y)), hex (background.getPixelAt (p.x, p.y)));

        const auto columns = textColumns (image);
        ASSERT_FALSE (columns.isEmpty());
        const int leftMargin = columns.getStart() - textArea.getX();
        const int rightMargin = textArea.getRight() - columns.getEnd();
        EXPECT_NEAR (leftMargin, rightMargin, 3);
    }

    TEST_F (AlertBox, MissingBackgroundStillShowsIconMessageAndFrame)
    {
        look.alertBackgroundImage = {};
        const auto image = draw (juce::MessageBoxIconType::QuestionIcon);

        EXPECT_EQ (hex (image.getPixelAt (5, 115)), hex (sentinel));
        EXPECT_EQ (hex (image.getPixelAt (30, 75)), "FFF4FFF2");
        EXPECT_FALSE (textColumns (image).isEmpty());
        EXPECT_EQ (hex (image.getPixelAt (0, 60)), "FF666666");
    }

    //==============================================================================
    class ProgressBarLook : public LookAndFeel
    {
    protected:
        juce::Image draw (double progress, int width = 100, const juce::String& text = {})
        {
            return render (width,
                           22,
                           sentinel,
                           [&] (juce::Graphics& g) { look.drawProgressBar (g, bar, width, 22, progress, text); });
        }

        // Filled columns, read along the middle row where fill and track differ most.
        static int filledColumns (const juce::Image& image, const juce::Image& fill)
        {
            int filled = 0;

            for (int x = 0; x < image.getWidth(); ++x)
                filled += image.getPixelAt (x, 12) == fill.getPixelAt (0, 11) ? 1 : 0;

            return filled;
        }

        double value = 0.0;
        juce::ProgressBar bar{value};
        const juce::Image track = decode (BinaryData::progressTrack_png, BinaryData::progressTrack_pngSize);
        const juce::Image fill = decode (BinaryData::progressFill_png, BinaryData::progressFill_pngSize);
    };

    TEST_F (ProgressBarLook, FillStaysInsideTheBar)
    {
        EXPECT_EQ (filledColumns (draw (0.5), fill), 49);
        EXPECT_EQ (filledColumns (draw (1.0), fill), 98);
        EXPECT_EQ (filledColumns (draw (1.7), fill), 98);
        EXPECT_EQ (filledColumns (draw (-0.3), fill), 0);
        EXPECT_EQ (filledColumns (draw (-1.0), fill), 0); // the framework's "busy" value
        EXPECT_EQ (filledColumns (draw (1.0e300), fill), 98);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (100, std::nanf ("")), 0);
    }

    // What the file chooser and the menus show, drawn as the framework draws them through the look.
    TEST_F (LookAndFeel, MenusScrollBarsBarsAndEditorFrame)
    {
        const juce::Colour menuGround (0xffeef5f8);
        const auto menu =
            render (50, 30, sentinel, [&] (juce::Graphics& g) { look.drawPopupMenuBackground (g, 50, 30); });
        EXPECT_EQ (hex (menu.getPixelAt (10, 10)), hex (menuGround));
        EXPECT_LE (distance (menu.getPixelAt (0, 10), menuGround.overlaidWith (juce::Colour (0x99000000))), 1);

        // The item under the mouse: a pale blue band over the menu, its text black.
        const auto item =
            render (120,
                    24,
                    menuGround,
                    [&] (juce::Graphics& g) {
                        look.drawPopupMenuItem (
                            g, {0, 0, 120, 24}, false, true, true, false, false, "Open", {}, nullptr, nullptr);
                    });
        EXPECT_LE (distance (item.getPixelAt (2, 2), menuGround.overlaidWith (juce::Colour (0xbfa4c2ce))), 1);
        auto darkest = juce::Colours::white;
        for (int x = 0; x < 120; ++x)
            for (int y = 0; y < 24; ++y)
                if (item.getPixelAt (x, y).getBrightness() < darkest.getBrightness())
                    darkest = item.getPixelAt (x, y);
        EXPECT_LE (distance (darkest, juce::Colours::black), 10) << hex (darkest);

        // A scroll bar over a white list: no ground of its own, a lavender thumb that darkens under
        // the mouse.
        juce::ScrollBar scrollBar (true);
        auto thumbPixel = [&] (bool over)
        {
            const auto image = render (16,
                                       100,
                                       juce::Colours::white,
                                       [&] (juce::Graphics& g) {
                                           look.drawScrollbar (g, scrollBar, 0, 0, 16, 100, true, 20, 30, over, false);
                                       });
            EXPECT_EQ (hex (image.getPixelAt (2, 60)), hex (juce::Colours::white)) << "beside the thumb";
            return image.getPixelAt (3, 25);
        };
        const juce::Colour thumb (0xffbbbbdd);
        EXPECT_LE (distance (thumbPixel (false), juce::Colours::white.overlaidWith (thumb.withAlpha (0.7f))), 1);
        EXPECT_LE (distance (thumbPixel (true), juce::Colours::white.overlaidWith (thumb.withAlpha (0.95f))), 1);

        // The progress bar lets the window's background through.
        double value = 0.0;
        juce::ProgressBar bar (value);
        EXPECT_FALSE (look.isProgressBarOpaque (bar));

        // The editor frame is the editor's own outline colour, only while it is enabled.
        juce::TextEditor editor;
        editor.setColour (juce::TextEditor::outlineColourId, juce::Colours::blue);

        auto framePixel = [&] (bool enabled)
        {
            editor.setEnabled (enabled);
            return render (
                       40, 20, sentinel, [&] (juce::Graphics& g) { look.drawTextEditorOutline (g, 40, 20, editor); })
                .getPixelAt (0, 10);
        };

        EXPECT_EQ (hex (framePixel (true)), "FF0000FF");
        EXPECT_EQ (hex (framePixel (false)), hex (sentinel));
    }
} // namespace
} // namespace zelvor