// The program's look and feel, drawn into offscreen images: no display is needed.

#include "look/ZelvorLookAndFeel.h"

#include <BinaryData.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>

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
        return std::max ({std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()), std::abs (a.getBlue() - b.getBlue()), std::abs (a.getAlpha() - b.getAlpha())});
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
    TEST_F (LookAndFeel, ColourTableHoldsItsEntriesAndLeavesTheRestToTheFramework)
    {
        const std::pair<int, juce::uint32> expected[] = {
            {juce::TextButton::buttonColourId, 0xffbbbbff},
            {juce::ListBox::outlineColourId, 0xb2808080},
            {juce::ScrollBar::thumbColourId, 0xffbbbbdd},
            {juce::ScrollBar::backgroundColourId, 0x00000000},
            {juce::Slider::thumbColourId, 0xffffffff},
            {juce::Slider::trackColourId, 0x7f000000},
            {juce::Slider::textBoxOutlineColourId, 0xff808080},
            {juce::ProgressBar::backgroundColourId, 0x99ffffff},
            {juce::ProgressBar::foregroundColourId, 0xb2008000},
            {juce::PopupMenu::backgroundColourId, 0xffeef5f8},
            {juce::PopupMenu::highlightedBackgroundColourId, 0xbfa4c2ce},
            {juce::PopupMenu::highlightedTextColourId, 0xff000000},
            {juce::TextEditor::focusedOutlineColourId, 0xffbbbbff},
            // read by the drawing, left as the framework has them
            {juce::AlertWindow::textColourId, 0xff000000},
            {juce::AlertWindow::outlineColourId, 0xff666666},
            {juce::TextEditor::outlineColourId, 0x00000000},
            {juce::ComboBox::backgroundColourId, 0xffffffff},
            {juce::ComboBox::buttonColourId, 0xffbbbbff},
            {juce::ComboBox::outlineColourId, 0xb2808080},
            {juce::Slider::backgroundColourId, 0x00000000},
            {juce::Slider::textBoxTextColourId, 0xff000000},
        };

        for (const auto& [id, argb] : expected)
            EXPECT_EQ (hex (look.findColour (id)), hex (juce::Colour (argb))) << "colour id 0x" << std::hex << id;

        // The framework's progress bar is then not opaque.
        double value = 0.0;
        juce::ProgressBar bar (value);
        EXPECT_FALSE (look.isProgressBarOpaque (bar));
    }

    TEST_F (LookAndFeel, ScrollBarsAndSlidersShareOneFaintCentredShadow)
    {
        juce::Slider slider;
        EXPECT_EQ (look.getScrollbarEffect(), &look.effectShadow);
        EXPECT_EQ (look.getSliderEffect (slider), &look.effectShadow);

        // An opaque square through the effect: a shadow under half strength that fades out within
        // four pixels (a blur of radius 2), equal on all sides.
        juce::Image square (juce::Image::ARGB, 30, 30, true);
        {
            juce::Graphics g (square);
            g.setColour (juce::Colours::white);
            g.fillRect (10, 10, 10, 10);
        }

        const auto out = render (30, 30, juce::Colours::transparentBlack, [&] (juce::Graphics& g)
                                 { look.effectShadow.applyEffect (square, g, 1.0f, 1.0f); });

        const int left = out.getPixelAt (9, 15).getAlpha();
        EXPECT_GT (left, 0);
        EXPECT_LE (left, 128);
        EXPECT_EQ (out.getPixelAt (20, 15).getAlpha(), left);
        EXPECT_EQ (out.getPixelAt (15, 9).getAlpha(), left);
        EXPECT_EQ (out.getPixelAt (15, 20).getAlpha(), left);
        EXPECT_EQ (out.getPixelAt (5, 15).getAlpha(), 0);
        EXPECT_EQ (out.getPixelAt (24, 15).getAlpha(), 0);
        EXPECT_EQ (hex (out.getPixelAt (15, 15)), "FFFFFFFF");
    }

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

            // The body is the framework's glass lozenge in the palette colour, inset by half the outline.
            button.setEnabled (c.enabled);
            const float inset = c.thickness / 2.0f;
            const auto expectedBody = render (80, 24, juce::Colours::white, [&] (juce::Graphics& g)
                                              { juce::LookAndFeel_V2::drawGlassLozenge (g, inset, inset, 80.0f - 2.0f * inset, 24.0f - 2.0f * inset, juce::Colour (c.body), c.thickness, 6.0f, false, false, false, false); });
            const auto body = render (80, 24, juce::Colours::white, [&] (juce::Graphics& g)
                                      { look.drawButtonBackground (g, button, juce::Colours::red, c.over, c.down); });
            const auto withText = render (80, 24, juce::Colours::white, [&] (juce::Graphics& g)
                                          {
                                          look.drawButtonBackground (g, button, juce::Colours::red, c.over, c.down);
                                          look.drawButtonText (g, button, c.over, c.down); });

            int differing = 0;

            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 80; ++x)
                    differing += body.getPixelAt (x, y) == expectedBody.getPixelAt (x, y) ? 0 : 1;

            EXPECT_EQ (differing, 0);

            // The text pixel that stands out most from the body is drawn in the text colour.
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

    TEST_F (LookAndFeel, ButtonTextIndentsAndConnectedEdges)
    {
        EXPECT_EQ (ZelvorLookAndFeel::buttonTextArea (80, 24, 14.0f, false, false), juce::Rectangle<int> (8, 4, 64, 16));
        // Connected on the right: the right indent uses a quarter of the corner size.
        EXPECT_EQ (ZelvorLookAndFeel::buttonTextArea (80, 24, 14.0f, false, true), juce::Rectangle<int> (8, 4, 67, 16));
        // A low button: the vertical indent is 0.3 of its height, the side indents follow its corners.
        EXPECT_EQ (ZelvorLookAndFeel::buttonTextArea (60, 10, 14.0f, false, false), juce::Rectangle<int> (4, 3, 52, 4));

        // A connected edge is straight and flush: its corner is painted; a free corner is rounded off.
        juce::TextButton button;
        button.setSize (80, 24);
        button.setConnectedEdges (juce::Button::ConnectedOnRight);
        const auto image = render (80, 24, sentinel, [&] (juce::Graphics& g)
                                   { look.drawButtonBackground (g, button, {}, false, false); });

        EXPECT_NE (hex (image.getPixelAt (79, 1)), hex (sentinel));
        EXPECT_EQ (hex (image.getPixelAt (0, 1)), hex (sentinel));
        EXPECT_NE (hex (image.getPixelAt (79, 12)), hex (sentinel));
    }

    //==============================================================================
    TEST (LookAndFeelGeometry, AlertIconSizesOfTheWorkedExamples)
    {
        using L = ZelvorLookAndFeel;
        EXPECT_EQ (L::alertIconArea (120, 60, false, 2), juce::Rectangle<int> (20, 20, 70, 60));
        EXPECT_EQ (L::alertIconArea (30, 20, false, 2), juce::Rectangle<int> (20, 20, 50, 40));
        EXPECT_EQ (L::alertIconArea (50, 10, false, 3), juce::Rectangle<int> (20, 20, 60, 50));
        EXPECT_EQ (L::alertIconArea (50, 10, false, 2), juce::Rectangle<int> (20, 20, 70, 60));
        EXPECT_EQ (L::alertIconArea (50, 10, true, 1), juce::Rectangle<int> (20, 20, 60, 50));
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

            const ZelvorLookAndFeel::AlertBoxState state{width, height, type, false, 2, juce::Colours::black, juce::Colour (0xff666666)};
            return render (width, height, sentinel, [&] (juce::Graphics& g)
                           { look.drawAlertBoxFor (g, state, textArea, layout); });
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
            return render (width, 22, sentinel, [&] (juce::Graphics& g)
                           { look.drawProgressBar (g, bar, width, 22, progress, text); });
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

    TEST_F (ProgressBarLook, FillWidthRoundsAndClamps)
    {
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (100, 0.5f), 49);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (100, 1.0f), 98);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (100, 1.7f), 98);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (100, -0.3f), 0);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (100, std::nanf ("")), 0);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (1, 0.5f), 0);
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (7, 0.5f), 2); // 2.5 goes to the even neighbour
        EXPECT_EQ (ZelvorLookAndFeel::progressFillWidth (9, 0.5f), 4); // 3.5 likewise

        const auto half = draw (0.5);
        EXPECT_EQ (filledColumns (half, fill), 49);
        EXPECT_EQ (half.getPixelAt (1, 12), fill.getPixelAt (0, 11));
        EXPECT_EQ (half.getPixelAt (49, 12), fill.getPixelAt (0, 11));
        EXPECT_EQ (half.getPixelAt (50, 12), track.getPixelAt (49, 11));

        EXPECT_EQ (filledColumns (draw (1.0), fill), 98);
        EXPECT_EQ (filledColumns (draw (1.7), fill), 98);
        EXPECT_EQ (filledColumns (draw (-0.3), fill), 0);
        EXPECT_EQ (filledColumns (draw (-1.0), fill), 0); // the framework's "busy" value
        EXPECT_EQ (filledColumns (draw (1.0e300), fill), 98);
    }

    TEST_F (ProgressBarLook, ImagesAreTiledOnePixelInside)
    {
        // Empty: the track alone, its first row and column one pixel in, its last ones wrapping into the margin.
        const auto empty = draw (0.0, 300);
        int mismatches = 0;

        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 300; ++x)
                mismatches += empty.getPixelAt (x, y) == track.getPixelAt ((x + 277) % 278, (y + 19) % 20) ? 0 : 1;

        EXPECT_EQ (mismatches, 0);

        // Full: every row of the fill column once, inside the margin.
        const auto full = draw (1.0);

        for (int y = 1; y < 21; ++y)
            EXPECT_EQ (full.getPixelAt (50, y), fill.getPixelAt (0, y - 1)) << "row " << y;

        EXPECT_EQ (full.getPixelAt (50, 0), track.getPixelAt (49, 19));
        EXPECT_EQ (full.getPixelAt (99, 12), track.getPixelAt (98, 11));
    }

    TEST_F (ProgressBarLook, MissingImagesPaintNothingOfTheirOwn)
    {
        look.progressFillImage = {};
        const auto trackOnly = draw (0.5);
        EXPECT_EQ (trackOnly.getPixelAt (10, 12), track.getPixelAt (9, 11));
        EXPECT_EQ (filledColumns (trackOnly, fill), 0);

        look.progressFillImage = fill;
        look.progressTrackImage = {};
        const auto fillOnly = draw (0.5);
        EXPECT_EQ (fillOnly.getPixelAt (10, 12), fill.getPixelAt (0, 11));
        EXPECT_EQ (hex (fillOnly.getPixelAt (60, 12)), hex (sentinel));
        EXPECT_EQ (hex (fillOnly.getPixelAt (10, 0)), hex (sentinel));
    }

    TEST_F (ProgressBarLook, TextIsWrittenOverTheBar)
    {
        const auto plain = draw (0.5);
        const auto withText = draw (0.5, 100, "50%");
        int changed = 0;

        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 100; ++x)
                changed += plain.getPixelAt (x, y) == withText.getPixelAt (x, y) ? 0 : 1;

        EXPECT_GT (changed, 20);
    }

    //==============================================================================
    TEST_F (LookAndFeel, ScrollBarGripNeedsAThumbOf17Pixels)
    {
        juce::ScrollBar scrollbar (true);

        auto draw = [&] (int thumbSize)
        {
            return render (18, 100, juce::Colours::white, [&] (juce::Graphics& g)
                           { look.drawScrollbar (g, scrollbar, 0, 0, 18, 100, true, 20, thumbSize, false, false); });
        };

        // Rows inside the thumb (column 4 lies inside it, clear of the groove) that differ from its body.
        auto gripRows = [] (const juce::Image& image, int thumbSize)
        {
            const auto thumbBody = image.getPixelAt (4, 21);
            int rows = 0;

            for (int y = 21; y < 20 + thumbSize - 1; ++y)
                rows += distance (image.getPixelAt (4, y), thumbBody) > 1 ? 1 : 0;

            return rows;
        };

        const auto short16 = draw (16);
        const auto long17 = draw (17);
        EXPECT_EQ (gripRows (short16, 16), 0);
        EXPECT_GE (gripRows (long17, 17), 6); // three pairs of lines
        EXPECT_LE (distance (long17.getPixelAt (4, 21), juce::Colours::white.overlaidWith (juce::Colour (0xb2bbbbdd))), 1);
        EXPECT_EQ (hex (long17.getPixelAt (0, 21)), "FFFFFFFF");

        const auto none = draw (0);
        int painted = 0;

        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 18; ++x)
                painted += none.getPixelAt (x, y) == juce::Colours::white ? 0 : 1;

        EXPECT_EQ (painted, 0);
    }

    TEST_F (LookAndFeel, ComboBoxFontAndArrows)
    {
        juce::ComboBox box;
        box.setSize (100, 30);
        const auto font30 = look.getComboBoxFont (box);
        EXPECT_FLOAT_EQ (font30.getHeight(), 15.0f);
        EXPECT_FLOAT_EQ (font30.getHorizontalScale(), 0.9f);
        EXPECT_FALSE (font30.isBold());

        box.setSize (100, 12);
        EXPECT_FLOAT_EQ (look.getComboBoxFont (box).getHeight(), 10.2f);

        // The up arrow sits in the upper half of the button area; a disabled box has none.
        auto arrowPixel = [&] (bool enabled)
        {
            box.setEnabled (enabled);
            return render (100, 20, sentinel, [&] (juce::Graphics& g)
                           { look.drawComboBox (g, 100, 20, false, 80, 0, 20, 20, box); })
                .getPixelAt (90, 7);
        };

        EXPECT_EQ (hex (arrowPixel (true)), "FFBBBBFF");
        EXPECT_EQ (hex (arrowPixel (false)), "FFFFFFFF");
    }

    TEST_F (LookAndFeel, SliderThumbRadiusAndButtons)
    {
        juce::Slider slider;

        for (const auto& size : {juce::Point<int> (10, 6), juce::Point<int> (200, 30)})
        {
            slider.setSize (size.x, size.y);
            EXPECT_EQ (look.getSliderThumbRadius (slider), 8);
        }

        std::unique_ptr<juce::Button> up (look.createSliderButton (slider, true));
        std::unique_ptr<juce::Button> down (look.createSliderButton (slider, false));
        EXPECT_NE (dynamic_cast<juce::ArrowButton*> (up.get()), nullptr);
        EXPECT_EQ (up->getName(), "u");
        EXPECT_EQ (down->getName(), "d");
    }

    //==============================================================================
    TEST_F (LookAndFeel, TitleBarButtonsAndTheirLayout)
    {
        std::unique_ptr<juce::Button> close (look.createDocumentWindowButton (juce::DocumentWindow::closeButton));
        std::unique_ptr<juce::Button> minimise (look.createDocumentWindowButton (juce::DocumentWindow::minimiseButton));
        std::unique_ptr<juce::Button> maximise (look.createDocumentWindowButton (juce::DocumentWindow::maximiseButton));
        ASSERT_NE (dynamic_cast<juce::ShapeButton*> (close.get()), nullptr);
        ASSERT_NE (dynamic_cast<juce::DrawableButton*> (minimise.get()), nullptr);
        ASSERT_NE (dynamic_cast<juce::DrawableButton*> (maximise.get()), nullptr);
        EXPECT_EQ (close->getName(), "close");
        EXPECT_EQ (minimise->getName(), "minimise");
        EXPECT_EQ (maximise->getName(), "maximise");
        EXPECT_EQ (look.createDocumentWindowButton (3), nullptr);

        juce::DocumentWindow window ("Zelvor", juce::Colours::grey, 0, false);
        using R = juce::Rectangle<int>;

        look.positionDocumentWindowButtons (window, 0, 0, 300, 24, minimise.get(), maximise.get(), close.get(), false);
        EXPECT_EQ (close->getBounds(), R (278, 3, 18, 18));
        EXPECT_EQ (maximise->getBounds(), R (257, 1, 18, 18));
        EXPECT_EQ (minimise->getBounds(), R (239, 1, 18, 18));

        look.positionDocumentWindowButtons (window, 0, 0, 300, 24, minimise.get(), maximise.get(), close.get(), true);
        EXPECT_EQ (close->getBounds(), R (4, 3, 18, 18));
        EXPECT_EQ (minimise->getBounds(), R (25, 1, 18, 18));
        EXPECT_EQ (maximise->getBounds(), R (43, 1, 18, 18));

        // No close button leaves no gap; a missing maximise button gives its place to minimise.
        look.positionDocumentWindowButtons (window, 0, 0, 300, 24, minimise.get(), maximise.get(), nullptr, false);
        EXPECT_EQ (maximise->getBounds(), R (278, 1, 18, 18));
        EXPECT_EQ (minimise->getBounds(), R (260, 1, 18, 18));
        look.positionDocumentWindowButtons (window, 0, 0, 300, 24, minimise.get(), nullptr, close.get(), false);
        EXPECT_EQ (minimise->getBounds(), R (257, 1, 18, 18));
    }

    TEST_F (LookAndFeel, MenusAndEditorFrame)
    {
        const auto menu = render (50, 30, sentinel, [&] (juce::Graphics& g)
                                  { look.drawPopupMenuBackground (g, 50, 30); });
        EXPECT_EQ (hex (menu.getPixelAt (10, 10)), "FFEEF5F8");
        EXPECT_LE (distance (menu.getPixelAt (0, 10), juce::Colour (0xffeef5f8).overlaidWith (juce::Colour (0x99000000))), 1);

        // The editor frame is the editor's own outline colour, only while it is enabled.
        juce::TextEditor editor;
        editor.setColour (juce::TextEditor::outlineColourId, juce::Colours::blue);

        auto framePixel = [&] (bool enabled)
        {
            editor.setEnabled (enabled);
            return render (40, 20, sentinel, [&] (juce::Graphics& g)
                           { look.drawTextEditorOutline (g, 40, 20, editor); })
                .getPixelAt (0, 10);
        };

        EXPECT_EQ (hex (framePixel (true)), "FF0000FF");
        EXPECT_EQ (hex (framePixel (false)), hex (sentinel));
    }
} // namespace
} // namespace zelvor
