#include "look/ZelvorLookAndFeel.h"

#include <BinaryData.h>

#include <cmath>

namespace zelvor
{
namespace
{
    juce::Image decodeResource (const char* data, int size)
    {
        return juce::ImageFileFormat::loadFrom (data, (size_t) size);
    }

    void drawSliderTriangle (juce::Graphics& g,
                             float x1,
                             float y1,
                             float x2,
                             float y2,
                             float x3,
                             float y3,
                             juce::Colour fill,
                             juce::Colour outline)
    {
        juce::Path p;
        p.addTriangle (x1, y1, x2, y2, x3, y3);
        g.setColour (fill);
        g.fillPath (p);
        g.setColour (outline);
        g.strokePath (p, juce::PathStrokeType (0.3f));
    }

    // A title-bar symbol: the path filled in a faint black, fitted into the button.
    juce::Button* makeSymbolButton (const juce::String& name, const juce::Path& shape)
    {
        juce::DrawablePath image;
        image.setPath (shape);
        image.setFill (juce::Colour (0x4c000000));

        auto* button = new juce::DrawableButton (name, juce::DrawableButton::ImageFitted);
        button->setImages (&image);
        return button;
    }
} // namespace

ZelvorLookAndFeel::ZelvorLookAndFeel()
{
    // The order matters: the list outline copies the combo-box outline and the focused editor
    // outline copies the button colour as they stand at that point.
    setColour (juce::TextButton::buttonColourId, juce::Colour (0xffbbbbff));
    setColour (juce::ListBox::outlineColourId, findColour (juce::ComboBox::outlineColourId));
    setColour (juce::ScrollBar::thumbColourId, juce::Colour (0xffbbbbdd));
    setColour (juce::ScrollBar::backgroundColourId, juce::Colour (0x00000000));
    setColour (juce::Slider::thumbColourId, juce::Colour (0xffffffff));
    setColour (juce::Slider::trackColourId, juce::Colour (0x7f000000));
    setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0xff808080));
    setColour (juce::ProgressBar::backgroundColourId, juce::Colours::white.withAlpha (0.6f));
    setColour (juce::ProgressBar::foregroundColourId, juce::Colours::green.withAlpha (0.7f));
    setColour (juce::PopupMenu::backgroundColourId, juce::Colour (0xffeef5f8));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, juce::Colour (0xbfa4c2ce));
    setColour (juce::PopupMenu::highlightedTextColourId, juce::Colour (0xff000000));
    setColour (juce::TextEditor::focusedOutlineColourId, findColour (juce::TextButton::buttonColourId));

    alertBackgroundImage = decodeResource (BinaryData::alertBackground_png, BinaryData::alertBackground_pngSize);
    progressTrackImage = decodeResource (BinaryData::progressTrack_png, BinaryData::progressTrack_pngSize);
    progressFillImage = decodeResource (BinaryData::progressFill_png, BinaryData::progressFill_pngSize);

    // The radius is whole pixels here: 2.2 rounds to 2.
    effectShadow.setShadowProperties (juce::DropShadow (juce::Colours::black.withAlpha (0.5f), 2, {0, 0}));
}

// Members go in reverse order: the images, last decoded first, then the shadow.
ZelvorLookAndFeel::~ZelvorLookAndFeel() = default;

//==============================================================================
ZelvorLookAndFeel::ButtonPalette ZelvorLookAndFeel::buttonPalette (bool isEnabled, bool isDown, bool isOver)
{
    // The darker bodies are idle 0xffe9e9ed darker by 0.4 and lit 0xff847bc2 darker by 0.1, written
    // out because single-precision darker() lands the latter's red one step low (0x77).
    const juce::Colour lit (0xff847bc2);

    if (! isEnabled)
        return {juce::Colour (0xffa6a6a9), 0.4f, juce::Colour (0xff808080)};

    if (isDown)
        return {juce::Colour (0xff786fb0), 1.2f, juce::Colours::white};

    if (isOver)
        return {lit, 1.2f, juce::Colours::white};

    return {juce::Colour (0xffe9e9ed), 0.7f, juce::Colours::black};
}

juce::Rectangle<int>
ZelvorLookAndFeel::buttonTextArea (int width, int height, float fontHeight, bool connectedOnLeft, bool connectedOnRight)
{
    const int yIndent = juce::jmin (4, juce::roundToInt ((float) height * 0.3f));
    const int cornerSize = juce::jmin (width, height) / 2;
    const int indentLimit = juce::roundToInt (fontHeight * 0.6f);
    const int leftIndent = juce::jmin (indentLimit, 2 + cornerSize / (connectedOnLeft ? 4 : 2));
    const int rightIndent = juce::jmin (indentLimit, 2 + cornerSize / (connectedOnRight ? 4 : 2));

    return {leftIndent, yIndent, width - leftIndent - rightIndent, height - yIndent * 2};
}

juce::Rectangle<int>
ZelvorLookAndFeel::alertIconArea (int alertHeight, int textAreaHeight, bool hasExtraComponents, int numButtons)
{
    int iconSize = juce::jmin (alertHeight + 20, 70);

    if (hasExtraComponents || numButtons > 2)
        iconSize = juce::jmin (iconSize, textAreaHeight + 50);

    return {20, 20, iconSize, iconSize - 10};
}

int ZelvorLookAndFeel::progressFillWidth (int barWidth, float progress)
{
    const int inside = juce::jmax (0, barWidth - 2);

    // Also catches NaN, which has no integer to round to.
    if (! (progress > 0.0f))
        return 0;

    if (progress >= 1.0f)
        return inside;

    // Nearest integer, ties to even.
    return juce::jlimit (0, inside, (int) std::lrint ((float) inside * progress));
}

//==============================================================================
void ZelvorLookAndFeel::drawButtonBackground (juce::Graphics& g,
                                              juce::Button& button,
                                              const juce::Colour&,
                                              bool shouldDrawButtonAsHighlighted,
                                              bool shouldDrawButtonAsDown)
{
    const auto palette = buttonPalette (button.isEnabled(), shouldDrawButtonAsDown, shouldDrawButtonAsHighlighted);
    const float halfThickness = palette.outlineThickness * 0.5f;

    const bool left = button.isConnectedOnLeft();
    const bool right = button.isConnectedOnRight();
    const bool top = button.isConnectedOnTop();
    const bool bottom = button.isConnectedOnBottom();

    // A connected edge runs nearly flush, so two joined buttons read as one control.
    const float insetL = left ? 0.1f : halfThickness;
    const float insetR = right ? 0.1f : halfThickness;
    const float insetT = top ? 0.1f : halfThickness;
    const float insetB = bottom ? 0.1f : halfThickness;

    drawGlassLozenge (g,
                      insetL,
                      insetT,
                      (float) button.getWidth() - insetL - insetR,
                      (float) button.getHeight() - insetT - insetB,
                      palette.body,
                      palette.outlineThickness,
                      6.0f,
                      left,
                      right,
                      top,
                      bottom);
}

void ZelvorLookAndFeel::drawButtonText (juce::Graphics& g,
                                        juce::TextButton& button,
                                        bool shouldDrawButtonAsHighlighted,
                                        bool shouldDrawButtonAsDown)
{
    const juce::Font font (14.0f, juce::Font::bold);
    g.setFont (font);
    g.setColour (buttonPalette (button.isEnabled(), shouldDrawButtonAsDown, shouldDrawButtonAsHighlighted).text);

    const auto area = buttonTextArea (button.getWidth(),
                                      button.getHeight(),
                                      font.getHeight(),
                                      button.isConnectedOnLeft(),
                                      button.isConnectedOnRight());
    g.drawFittedText (button.getButtonText(), area, juce::Justification::centred, 2, 0.7f);
}

//==============================================================================
void ZelvorLookAndFeel::drawAlertBox (juce::Graphics& g,
                                      juce::AlertWindow& alert,
                                      const juce::Rectangle<int>& textArea,
                                      juce::TextLayout& textLayout)
{
    drawAlertBoxFor (g,
                     {alert.getWidth(),
                      alert.getHeight(),
                      alert.getAlertType(),
                      alert.containsAnyExtraComponents(),
                      alert.getNumButtons(),
                      alert.findColour (juce::AlertWindow::textColourId),
                      alert.findColour (juce::AlertWindow::outlineColourId)},
                     textArea,
                     textLayout);
}

void ZelvorLookAndFeel::drawAlertBoxFor (juce::Graphics& g,
                                         const AlertBoxState& alert,
                                         const juce::Rectangle<int>& textArea,
                                         const juce::TextLayout& textLayout) const
{
    if (alertBackgroundImage.isValid())
    {
        g.setTiledImageFill (alertBackgroundImage, 0, 0, 1.0f);
        g.fillAll();
    }

    int textOffset = 0;

    if (alert.type != juce::MessageBoxIconType::NoIcon)
    {
        const auto icon =
            alertIconArea (alert.height, textArea.getHeight(), alert.hasExtraComponents, alert.numButtons);
        const auto ix = (float) icon.getX();
        const auto iy = (float) icon.getY();
        const auto iw = (float) icon.getWidth();
        const auto ih = (float) icon.getHeight();

        juce::Path triangle;
        triangle.addTriangle (ix + iw * 0.5f, iy, ix + iw, iy + ih, ix, iy + ih);
        g.setColour (juce::Colour (0xfff4fff2));
        g.fillPath (triangle.createPathWithRoundedCorners (5.0f));

        const char* glyph = alert.type == juce::MessageBoxIconType::QuestionIcon ? "?"
                            : alert.type == juce::MessageBoxIconType::InfoIcon   ? "i"
                                                                                 : "!";
        g.setColour (juce::Colour (0xff6363cf));
        g.setFont (juce::Font (ih * 0.9f, juce::Font::bold));
        g.drawText (glyph,
                    icon.getX(),
                    icon.getY(),
                    icon.getWidth(),
                    icon.getHeight() + icon.getHeight() / 8,
                    juce::Justification::centred,
                    false);

        textOffset = 100;
    }

    // The alert window lays its message out top-left when it has an icon and centred at the top
    // when it has none, which is the alignment wanted here; the layout carries the text colour.
    g.setColour (alert.textColour);
    textLayout.draw (g, textArea.withTrimmedLeft (textOffset).toFloat());

    g.setColour (alert.outlineColour);
    g.drawRect (0, 0, alert.width, alert.height, 1);
}

//==============================================================================
void ZelvorLookAndFeel::drawProgressBar (
    juce::Graphics& g, juce::ProgressBar& bar, int width, int height, double progress, const juce::String& textToShow)
{
    // Both images start one pixel inside the bar, so a 22-pixel bar shows each of their 20 rows once.
    if (progressTrackImage.isValid())
    {
        g.setTiledImageFill (progressTrackImage, 1, 1, 1.0f);
        g.fillAll();
    }

    if (progressFillImage.isValid())
    {
        g.setTiledImageFill (progressFillImage, 1, 1, 1.0f);
        // Narrowed only once in range: a huge double has no float.
        g.fillRect (1, 1, progressFillWidth (width, (float) juce::jlimit (-1.0, 2.0, progress)), height - 2);
    }

    // The bar hands its percentage or message over with the drawing, so it is written here. The
    // bar runs from near white to a mid blue under the text: no one colour reads on both, so the
    // text is dark with a one-pixel white edge.
    if (textToShow.isNotEmpty())
    {
        g.setFont ((float) height * 0.6f);
        g.setColour (juce::Colour (progressTextEdgeColour));
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                if (dx != 0 || dy != 0)
                    g.drawText (textToShow, dx, dy, width, height, juce::Justification::centred, false);
        g.setColour (juce::Colour (progressTextColour));
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
    juce::ignoreUnused (bar);
}

//==============================================================================
void ZelvorLookAndFeel::drawScrollbarButton (juce::Graphics& g,
                                             juce::ScrollBar& scrollbar,
                                             int width,
                                             int height,
                                             int buttonDirection,
                                             bool isScrollbarVertical,
                                             bool shouldDrawButtonAsHighlighted,
                                             bool shouldDrawButtonAsDown)
{
    const auto w = (float) (isScrollbarVertical ? width - 2 : width);
    const auto h = (float) (isScrollbarVertical ? height : height - 2);

    juce::Path p;

    if (buttonDirection == 0)
        p.addTriangle (w * 0.5f, h * 0.2f, w * 0.1f, h * 0.7f, w * 0.9f, h * 0.7f);
    else if (buttonDirection == 1)
        p.addTriangle (w * 0.8f, h * 0.5f, w * 0.3f, h * 0.1f, w * 0.3f, h * 0.9f);
    else if (buttonDirection == 2)
        p.addTriangle (w * 0.5f, h * 0.8f, w * 0.1f, h * 0.3f, w * 0.9f, h * 0.3f);
    else if (buttonDirection == 3)
        p.addTriangle (w * 0.2f, h * 0.5f, w * 0.7f, h * 0.1f, w * 0.7f, h * 0.9f);

    if (shouldDrawButtonAsDown)
        g.setColour (juce::Colours::white);
    else if (shouldDrawButtonAsHighlighted)
        g.setColour (juce::Colours::white.withAlpha (0.7f));
    else
        g.setColour (scrollbar.findColour (juce::ScrollBar::thumbColourId).withAlpha (0.5f));

    g.fillPath (p);
    g.setColour (juce::Colours::black.withAlpha (0.5f));
    g.strokePath (p, juce::PathStrokeType (0.5f));
}

void ZelvorLookAndFeel::drawScrollbar (juce::Graphics& g,
                                       juce::ScrollBar& scrollbar,
                                       int x,
                                       int y,
                                       int width,
                                       int height,
                                       bool isScrollbarVertical,
                                       int thumbStartPosition,
                                       int thumbSize,
                                       bool isMouseOver,
                                       bool isMouseDown)
{
    g.fillAll (scrollbar.findColour (juce::ScrollBar::backgroundColourId));

    const bool active = isMouseOver || isMouseDown;
    const auto thumbColour = scrollbar.findColour (juce::ScrollBar::thumbColourId);
    g.setColour (thumbColour.withAlpha (active ? 0.4f : 0.15f));

    if (thumbSize <= 0)
        return;

    juce::Rectangle<int> thumb;
    int crossOrigin;
    int crossSize;

    if (isScrollbarVertical)
    {
        crossOrigin = x;
        crossSize = width - 2;
        g.fillRect (
            x + juce::roundToInt (0.35f * (float) crossSize), y, juce::roundToInt (0.3f * (float) crossSize), height);
        thumb = {x + 1, thumbStartPosition, crossSize - 2, thumbSize};
    }
    else
    {
        crossOrigin = y;
        crossSize = height - 2;
        g.fillRect (
            x, y + juce::roundToInt (0.35f * (float) crossSize), width, juce::roundToInt (0.3f * (float) crossSize));
        thumb = {thumbStartPosition, y + 1, thumbSize, crossSize - 2};
    }

    g.setColour (thumbColour.withAlpha (active ? 0.95f : 0.7f));
    g.fillRect (thumb);
    g.setColour (juce::Colours::black.withAlpha (active ? 0.4f : 0.25f));
    g.drawRect (thumb, 1);

    if (thumbSize < minimumThumbSizeForGrip)
        return;

    const int centre = thumbStartPosition + thumbSize / 2;
    const auto from = (float) crossOrigin + 0.2f * (float) crossSize;
    const auto to = (float) crossOrigin + 0.8f * (float) crossSize;

    auto line = [&] (int along, juce::Colour colour)
    {
        const auto p = (float) along;
        g.setColour (colour);

        if (isScrollbarVertical)
            g.drawLine (from, p, to, p);
        else
            g.drawLine (p, from, p, to);
    };

    for (const int p : {centre + 4, centre, centre - 4})
    {
        line (p, juce::Colours::black.withAlpha (0.15f));
        line (p - 1, juce::Colours::white.withAlpha (0.15f));
    }
}

juce::ImageEffectFilter* ZelvorLookAndFeel::getScrollbarEffect()
{
    return &effectShadow;
}

//==============================================================================
void ZelvorLookAndFeel::drawTextEditorOutline (juce::Graphics& g, int width, int height, juce::TextEditor& textEditor)
{
    if (! textEditor.isEnabled())
        return;

    g.setColour (textEditor.findColour (juce::TextEditor::outlineColourId));
    g.drawRect (0, 0, width, height);
}

void ZelvorLookAndFeel::drawPopupMenuBackground (juce::Graphics& g, int width, int height)
{
    g.fillAll (findColour (juce::PopupMenu::backgroundColourId));
    g.setColour (juce::Colours::black.withAlpha (0.6f));
    g.drawRect (0, 0, width, height);
}

void ZelvorLookAndFeel::drawMenuBarBackground (juce::Graphics& g, int, int, bool, juce::MenuBarComponent& menuBar)
{
    g.fillAll (menuBar.findColour (juce::PopupMenu::backgroundColourId));
}

//==============================================================================
void ZelvorLookAndFeel::drawComboBox (juce::Graphics& g,
                                      int width,
                                      int height,
                                      bool isMouseButtonDown,
                                      int buttonX,
                                      int buttonY,
                                      int buttonW,
                                      int buttonH,
                                      juce::ComboBox& box)
{
    const auto background = box.findColour (juce::ComboBox::backgroundColourId);
    const auto button = box.findColour (juce::ComboBox::buttonColourId);

    g.fillAll (background);
    g.setColour (isMouseButtonDown ? button : background);
    g.fillRect (buttonX, buttonY, buttonW, buttonH);
    g.setColour (box.findColour (juce::ComboBox::outlineColourId));
    g.drawRect (0, 0, width, height);

    if (! box.isEnabled())
        return;

    const auto bx = (float) buttonX;
    const auto by = (float) buttonY;
    const auto bw = (float) buttonW;
    const auto bh = (float) buttonH;

    juce::Path arrows;
    arrows.addTriangle (
        bx + 0.5f * bw, by + 0.15f * bh, bx + 0.8f * bw, by + 0.45f * bh, bx + 0.2f * bw, by + 0.45f * bh);
    arrows.addTriangle (
        bx + 0.5f * bw, by + 0.85f * bh, bx + 0.8f * bw, by + 0.55f * bh, bx + 0.2f * bw, by + 0.55f * bh);

    g.setColour (isMouseButtonDown ? background : button);
    g.fillPath (arrows);
}

juce::Font ZelvorLookAndFeel::getComboBoxFont (juce::ComboBox& box)
{
    return juce::Font (juce::jmin (0.85f * (float) box.getHeight(), 15.0f), juce::Font::plain)
        .withHorizontalScale (0.9f);
}

//==============================================================================
void ZelvorLookAndFeel::drawLinearSlider (juce::Graphics& g,
                                          int x,
                                          int y,
                                          int width,
                                          int height,
                                          float sliderPos,
                                          float minSliderPos,
                                          float maxSliderPos,
                                          juce::Slider::SliderStyle style,
                                          juce::Slider& slider)
{
    using Style = juce::Slider::SliderStyle;

    g.fillAll (slider.findColour (juce::Slider::backgroundColourId));

    const auto X = (float) x;
    const auto Y = (float) y;
    const auto W = (float) width;
    const auto H = (float) height;

    if (style == Style::LinearBar || style == Style::LinearBarVertical)
    {
        // The vertical bar fills from the bottom up to the position.
        const int pos = juce::roundToInt (sliderPos);
        const auto bar = style == Style::LinearBar ? juce::Rectangle<int> (x, y, pos - x, height)
                                                   : juce::Rectangle<int> (x, pos, width, y + height - pos);
        g.setColour (slider.findColour (juce::Slider::thumbColourId));
        g.fillRect (bar);
        g.setColour (slider.findColour (juce::Slider::textBoxTextColourId).withMultipliedAlpha (0.5f));
        g.drawRect (bar, 1);
        return;
    }

    const bool enabled = slider.isEnabled();
    const bool horizontal =
        style == Style::LinearHorizontal || style == Style::TwoValueHorizontal || style == Style::ThreeValueHorizontal;

    g.setColour (slider.findColour (juce::Slider::trackColourId).withMultipliedAlpha (enabled ? 1.0f : 0.3f));

    if (horizontal)
        g.fillRect (x, y + juce::roundToInt (0.6f * H), width, juce::roundToInt (0.2f * H));
    else
        g.fillRect (x + juce::roundToInt (0.5f * W - juce::jmin (0.1f * W, 3.0f)),
                    y,
                    juce::jmin (juce::roundToInt (0.2f * W), 4),
                    height);

    const auto fill = slider.findColour (juce::Slider::thumbColourId)
                          .withAlpha (enabled ? (slider.isMouseOverOrDragging() ? 1.0f : 0.7f) : 0.35f);
    const auto outline = juce::Colours::black.withAlpha (enabled ? 0.7f : 0.35f);
    const float xc = X + 0.5f * W;

    const bool rangeHorizontal = style == Style::TwoValueHorizontal || style == Style::ThreeValueHorizontal;
    const bool rangeVertical = style == Style::TwoValueVertical || style == Style::ThreeValueVertical;

    if (rangeHorizontal)
    {
        const float top = Y + 0.6f * H - juce::jmin (4.0f, 0.3f * H);
        const float bottom = Y + 0.9f * H;
        drawSliderTriangle (g, minSliderPos, top, minSliderPos - 7.0f, bottom, minSliderPos, bottom, fill, outline);
        drawSliderTriangle (g, maxSliderPos, top, maxSliderPos, bottom, maxSliderPos + 7.0f, bottom, fill, outline);
    }
    else if (rangeVertical)
    {
        const float p = juce::jmin (0.4f * W, 8.0f);
        const float r = juce::jmin (0.3f * W, 4.0f);
        drawSliderTriangle (g, xc + r, minSliderPos, xc - p, minSliderPos - 7.0f, xc - p, minSliderPos, fill, outline);
        drawSliderTriangle (g, xc + r, maxSliderPos, xc - p, maxSliderPos, xc - p, maxSliderPos + 7.0f, fill, outline);
    }

    if (style == Style::LinearHorizontal || style == Style::ThreeValueHorizontal)
    {
        drawSliderTriangle (
            g, sliderPos, Y + 0.9f * H, sliderPos - 7.0f, Y + 0.2f * H, sliderPos + 7.0f, Y + 0.2f * H, fill, outline);
    }
    else if (style == Style::LinearVertical || style == Style::ThreeValueVertical)
    {
        const float tip = xc - juce::jmin (4.0f, 0.3f * W);
        const float back = xc + juce::jmin (8.0f, 0.4f * W);
        drawSliderTriangle (g, tip, sliderPos, back, sliderPos - 7.0f, back, sliderPos + 7.0f, fill, outline);
    }
}

int ZelvorLookAndFeel::getSliderThumbRadius (juce::Slider&)
{
    return 8;
}

juce::Button* ZelvorLookAndFeel::createSliderButton (juce::Slider&, bool isIncrement)
{
    const juce::Colour arrow (juce::Colours::white.withAlpha (0.8f));
    return isIncrement ? new juce::ArrowButton ("u", 0.75f, arrow) : new juce::ArrowButton ("d", 0.25f, arrow);
}

juce::ImageEffectFilter* ZelvorLookAndFeel::getSliderEffect (juce::Slider&)
{
    return &effectShadow;
}

//==============================================================================
void ZelvorLookAndFeel::drawCornerResizer (juce::Graphics& g, int w, int h, bool isMouseOver, bool isMouseDragging)
{
    g.setColour (juce::Colour (isMouseOver || isMouseDragging ? 0xffd3d3d3 : 0xff555555));

    const auto width = (float) w;
    const auto height = (float) h;
    const float thickness = 0.1f * juce::jmin (width, height);

    for (float f = 0.0f; f < 1.0f; f += 0.3f)
        g.drawLine (width * f, height + 1.0f, width + 1.0f, height * f, thickness);
}

juce::Button* ZelvorLookAndFeel::createDocumentWindowButton (int buttonType)
{
    juce::Path shape;

    if (buttonType == juce::DocumentWindow::closeButton)
    {
        shape.addLineSegment ({0.0f, 0.0f, 1.0f, 1.0f}, 0.35f);
        shape.addLineSegment ({1.0f, 0.0f, 0.0f, 1.0f}, 0.35f);

        auto* button = new juce::ShapeButton (
            "close", juce::Colour (0x7fff3333), juce::Colour (0xd7ff3333), juce::Colour (0xf7ff3333));
        button->setShape (shape, true, true, true);
        return button;
    }

    if (buttonType == juce::DocumentWindow::minimiseButton)
    {
        shape.addLineSegment ({0.0f, 0.5f, 1.0f, 0.5f}, 0.25f);
        return makeSymbolButton ("minimise", shape);
    }

    if (buttonType == juce::DocumentWindow::maximiseButton)
    {
        shape.addLineSegment ({0.5f, 0.0f, 0.5f, 1.0f}, 0.25f);
        shape.addLineSegment ({0.0f, 0.5f, 1.0f, 0.5f}, 0.25f);
        return makeSymbolButton ("maximise", shape);
    }

    return nullptr;
}

void ZelvorLookAndFeel::positionDocumentWindowButtons (juce::DocumentWindow&,
                                                       int titleBarX,
                                                       int titleBarY,
                                                       int titleBarW,
                                                       int titleBarH,
                                                       juce::Button* minimiseButton,
                                                       juce::Button* maximiseButton,
                                                       juce::Button* closeButton,
                                                       bool positionTitleBarButtonsOnLeft)
{
    const int size = titleBarH - titleBarH / 4;
    const int top = titleBarY + titleBarH / 8;
    const int direction = positionTitleBarButtonsOnLeft ? 1 : -1;
    int x = positionTitleBarButtonsOnLeft ? titleBarX + 4 : titleBarX + titleBarW - size - 4;

    if (closeButton != nullptr)
    {
        closeButton->setBounds (x, top, size, size);
        x += direction * (size + size / 5);
    }

    // Outwards from the close button: maximise next to it on the right, minimise on the left.
    // A missing one leaves its place to the other.
    auto* next = positionTitleBarButtonsOnLeft ? minimiseButton : maximiseButton;
    auto* after = positionTitleBarButtonsOnLeft ? maximiseButton : minimiseButton;

    if (next != nullptr)
    {
        next->setBounds (x, top - 2, size, size);
        x += direction * size;
    }

    if (after != nullptr)
        after->setBounds (x, top - 2, size, size);
}
} // namespace zelvor
