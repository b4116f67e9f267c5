// Shows the program's look and feel on every kind of widget it draws, including those the updater
// itself rarely or never shows (slider, combo box, scroll bars, menus, framework title bar).
//
// Usage: zelvor-look-gallery [widgets | warning | info | question | plain | progress]
//   widgets   a window with buttons, combo box, sliders, editor, progress bar, scroll bars, menu bar
//   warning, info, question, plain   an alert box of that type over the gallery window
//   progress  the modal progress window the update runs behind

#include "look/ZelvorLookAndFeel.h"
#include "update/Texts.h"

#include <BinaryData.h>

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
class ProgressRun : public juce::ThreadWithProgressWindow
{
public:
    ProgressRun()
        : juce::ThreadWithProgressWindow (zelvor::Texts::progressTitle, true, true, 10000, zelvor::Texts::cancelButton)
    {
    }

    void run() override
    {
        setStatusMessage (zelvor::Texts::downloadingDsp);

        for (int step = 0; step <= 1000 && ! threadShouldExit(); ++step)
        {
            setProgress (juce::jmin (0.62, step / 100.0));
            wait (100);
        }
    }
};

class MenuModel : public juce::MenuBarModel
{
public:
    juce::StringArray getMenuBarNames() override
    {
        return {"Functions", "Help"};
    }

    juce::PopupMenu getMenuForIndex (int, const juce::String&) override
    {
        juce::PopupMenu menu;
        menu.addItem (1, "Firmware Update");
        menu.addSeparator();
        menu.addItem (2, "Quit");
        return menu;
    }

    void menuItemSelected (int, int) override
    {
    }
};

class Gallery : public juce::Component
{
public:
    Gallery()
    {
        background =
            juce::ImageFileFormat::loadFrom (BinaryData::background_png, (size_t) BinaryData::background_pngSize);

        menuBar.setModel (&menuModel);
        addAndMakeVisible (menuBar);

        for (auto* b : {&idle, &disabled, &left, &right})
            addAndMakeVisible (b);

        disabled.setEnabled (false);
        left.setConnectedEdges (juce::Button::ConnectedOnRight);
        right.setConnectedEdges (juce::Button::ConnectedOnLeft);

        combo.addItemList ({"QEX firmware", "DSP firmware", "Both"}, 1);
        combo.setSelectedId (1);
        addAndMakeVisible (combo);
        disabledCombo.addItem ("disabled", 1);
        disabledCombo.setSelectedId (1);
        disabledCombo.setEnabled (false);
        addAndMakeVisible (disabledCombo);

        const std::pair<juce::Slider*, juce::Slider::SliderStyle> sliders[] = {
            {&linear, juce::Slider::LinearHorizontal},
            {&twoValue, juce::Slider::TwoValueHorizontal},
            {&threeValue, juce::Slider::ThreeValueHorizontal},
            {&bar, juce::Slider::LinearBar},
            {&vertical, juce::Slider::LinearVertical},
            {&threeVertical, juce::Slider::ThreeValueVertical},
            {&incDec, juce::Slider::IncDecButtons},
        };

        for (const auto& [slider, style] : sliders)
        {
            slider->setSliderStyle (style);
            slider->setRange (0.0, 100.0, 1.0);
            slider->setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
            addAndMakeVisible (slider);
        }

        linear.setValue (40.0);
        twoValue.setMinAndMaxValues (20.0, 70.0);
        threeValue.setMinAndMaxValues (10.0, 90.0);
        threeValue.setValue (50.0);
        bar.setValue (60.0);
        vertical.setValue (30.0);
        threeVertical.setMinAndMaxValues (10.0, 80.0);
        threeVertical.setValue (45.0);
        incDec.setTextBoxStyle (juce::Slider::TextBoxLeft, false, 50, 20);
        incDec.setValue (7.0);

        editor.setText ("update file");
        editor.setColour (juce::TextEditor::outlineColourId, juce::Colours::grey);
        addAndMakeVisible (editor);

        addAndMakeVisible (progress);

        list.setSize (600, 400);
        viewport.setViewedComponent (&list, false);
        addAndMakeVisible (viewport);

        setSize (640, 420);
    }

    void paint (juce::Graphics& g) override
    {
        g.drawImageAt (background, 0, 0);
    }

    void resized() override
    {
        menuBar.setBounds (0, 0, getWidth(), 24);
        idle.setBounds (20, 40, 140, 24);
        disabled.setBounds (170, 40, 140, 24);
        left.setBounds (320, 40, 70, 24);
        right.setBounds (390, 40, 70, 24);
        combo.setBounds (20, 80, 180, 24);
        disabledCombo.setBounds (210, 80, 120, 24);
        editor.setBounds (340, 80, 120, 24);
        linear.setBounds (20, 120, 200, 30);
        twoValue.setBounds (20, 160, 200, 30);
        threeValue.setBounds (20, 200, 200, 30);
        bar.setBounds (20, 240, 200, 20);
        incDec.setBounds (20, 270, 120, 24);
        vertical.setBounds (240, 120, 30, 150);
        threeVertical.setBounds (280, 120, 30, 150);
        progress.setBounds (20, 310, 280, 22);
        viewport.setBounds (340, 120, 280, 220);
    }

    struct Lined : public juce::Component
    {
        void paint (juce::Graphics& g) override
        {
            g.fillAll (juce::Colours::white);
            g.setColour (juce::Colours::lightgrey);

            for (int y = 0; y < getHeight(); y += 20)
                g.drawHorizontalLine (y, 0.0f, (float) getWidth());
        }
    };

    juce::Image background;
    MenuModel menuModel;
    juce::MenuBarComponent menuBar;
    juce::TextButton idle{" Update Zelvor"}, disabled{"Disabled"}, left{"Left"}, right{"Right"};
    juce::ComboBox combo, disabledCombo;
    juce::Slider linear, twoValue, threeValue, bar, vertical, threeVertical, incDec;
    juce::TextEditor editor;
    double progressValue = 0.5;
    juce::ProgressBar progress{progressValue};
    Lined list;
    juce::Viewport viewport;
};

class GalleryWindow : public juce::DocumentWindow
{
public:
    GalleryWindow() : juce::DocumentWindow ("Look gallery", juce::Colour (0xff918f8f), juce::DocumentWindow::allButtons)
    {
        setUsingNativeTitleBar (false);
        setContentOwned (new Gallery(), true);
        setResizable (true, true);
        centreWithSize (getWidth(), getHeight());
        setVisible (true);
    }

    void closeButtonPressed() override
    {
        juce::JUCEApplication::getInstance()->systemRequestedQuit();
    }
};

class GalleryApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override
    {
        return "zelvor-look-gallery";
    }

    const juce::String getApplicationVersion() override
    {
        return "1.0";
    }

    bool moreThanOneInstanceAllowed() override
    {
        return true;
    }

    void initialise (const juce::String& commandLine) override
    {
        juce::LookAndFeel::setDefaultLookAndFeel (&look);
        window = std::make_unique<GalleryWindow>();

        const auto mode = commandLine.trim();
        const std::pair<const char*, juce::MessageBoxIconType> alerts[] = {
            {"warning", juce::MessageBoxIconType::WarningIcon},
            {"info", juce::MessageBoxIconType::InfoIcon},
            {"question", juce::MessageBoxIconType::QuestionIcon},
            {"plain", juce::MessageBoxIconType::NoIcon},
        };

        for (const auto& [name, icon] : alerts)
            if (mode == name)
                juce::AlertWindow::showOkCancelBox (icon,
                                                    "Zelvor",
                                                    "Please power on your Zelvor.\nThen press Continue.",
                                                    "Continue",
                                                    "Cancel",
                                                    nullptr,
                                                    nullptr);

        if (mode == "progress")
            juce::MessageManager::callAsync (
                [this]
                {
                    run = std::make_unique<ProgressRun>();
                    run->launchThread();
                });
    }

    void shutdown() override
    {
        run = nullptr;
        window = nullptr;
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    }

    zelvor::ZelvorLookAndFeel look;
    std::unique_ptr<GalleryWindow> window;
    std::unique_ptr<ProgressRun> run;
};
} // namespace

START_JUCE_APPLICATION (GalleryApplication)
