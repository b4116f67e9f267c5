#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace zelvor
{
// The program's own appearance: installed as the default look and feel by the main window's
// content, so every window, button, alert box and progress bar of the process draws through it.
class ZelvorLookAndFeel : public juce::LookAndFeel_V2
{
public:
    ZelvorLookAndFeel();
    ~ZelvorLookAndFeel() override;

    //==============================================================================
    void drawButtonBackground (juce::Graphics&,
                               juce::Button&,
                               const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted,
                               bool shouldDrawButtonAsDown) override;
    void drawButtonText (juce::Graphics&,
                         juce::TextButton&,
                         bool shouldDrawButtonAsHighlighted,
                         bool shouldDrawButtonAsDown) override;
    void drawAlertBox (juce::Graphics&,
                       juce::AlertWindow&,
                       const juce::Rectangle<int>& textArea,
                       juce::TextLayout&) override;
    void drawProgressBar (juce::Graphics&,
                          juce::ProgressBar&,
                          int width,
                          int height,
                          double progress,
                          const juce::String& textToShow) override;

    void drawScrollbarButton (juce::Graphics&,
                              juce::ScrollBar&,
                              int width,
                              int height,
                              int buttonDirection,
                              bool isScrollbarVertical,
                              bool shouldDrawButtonAsHighlighted,
                              bool shouldDrawButtonAsDown) override;
    void drawScrollbar (juce::Graphics&,
                        juce::ScrollBar&,
                        int x,
                        int y,
                        int width,
                        int height,
                        bool isScrollbarVertical,
                        int thumbStartPosition,
                        int thumbSize,
                        bool isMouseOver,
                        bool isMouseDown) override;
    juce::ImageEffectFilter* getScrollbarEffect() override;
    void drawTextEditorOutline (juce::Graphics&, int width, int height, juce::TextEditor&) override;
    void drawPopupMenuBackground (juce::Graphics&, int width, int height) override;
    void drawMenuBarBackground (
        juce::Graphics&, int width, int height, bool isMouseOverBar, juce::MenuBarComponent&) override;
    void drawComboBox (juce::Graphics&,
                       int width,
                       int height,
                       bool isMouseButtonDown,
                       int buttonX,
                       int buttonY,
                       int buttonW,
                       int buttonH,
                       juce::ComboBox&) override;
    juce::Font getComboBoxFont (juce::ComboBox&) override;
    void drawLinearSlider (juce::Graphics&,
                           int x,
                           int y,
                           int width,
                           int height,
                           float sliderPos,
                           float minSliderPos,
                           float maxSliderPos,
                           juce::Slider::SliderStyle,
                           juce::Slider&) override;
    int getSliderThumbRadius (juce::Slider&) override;
    juce::Button* createSliderButton (juce::Slider&, bool isIncrement) override;
    juce::ImageEffectFilter* getSliderEffect (juce::Slider&) override;
    void drawCornerResizer (juce::Graphics&, int w, int h, bool isMouseOver, bool isMouseDragging) override;
    juce::Button* createDocumentWindowButton (int buttonType) override;
    void positionDocumentWindowButtons (juce::DocumentWindow&,
                                        int titleBarX,
                                        int titleBarY,
                                        int titleBarW,
                                        int titleBarH,
                                        juce::Button* minimiseButton,
                                        juce::Button* maximiseButton,
                                        juce::Button* closeButton,
                                        bool positionTitleBarButtonsOnLeft) override;

    static constexpr juce::uint32 progressTextColour = 0xFF1B1B4B;
    static constexpr juce::uint32 progressTextEdgeColour = 0xFFFFFFFF;

    //==============================================================================
    // Text buttons take their colours from their state alone, never from the button's colours.
    struct ButtonPalette
    {
        juce::Colour body;
        float outlineThickness;
        juce::Colour text;
    };

    static ButtonPalette buttonPalette (bool isEnabled, bool isDown, bool isOver);
    static juce::Rectangle<int>
    buttonTextArea (int width, int height, float fontHeight, bool connectedOnLeft, bool connectedOnRight);

    // The pale triangle of an alert box; the text moves right of it.
    static juce::Rectangle<int>
    alertIconArea (int alertHeight, int textAreaHeight, bool hasExtraComponents, int numButtons);

    // What the alert box drawing reads from its window, so it can be drawn without one (an alert
    // window puts itself on the desktop as soon as it exists).
    struct AlertBoxState
    {
        int width;
        int height;
        juce::MessageBoxIconType type;
        bool hasExtraComponents;
        int numButtons;
        juce::Colour textColour;
        juce::Colour outlineColour;
    };

    void drawAlertBoxFor (juce::Graphics&,
                          const AlertBoxState&,
                          const juce::Rectangle<int>& textArea,
                          const juce::TextLayout&) const;

    // Pixels of the fill inside the bar's 1-pixel margin, whatever the progress value.
    static int progressFillWidth (int barWidth, float progress);

    static constexpr int minimumThumbSizeForGrip = 17;

    //==============================================================================
    juce::DropShadowEffect effectShadow;
    juce::Image alertBackgroundImage; // each may be null: the step that tiles it then paints nothing
    juce::Image progressTrackImage;
    juce::Image progressFillImage;

private:
    JUCE_DECLARE_NON_COPYABLE (ZelvorLookAndFeel)
};
} // namespace zelvor
