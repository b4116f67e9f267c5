#include "demo/VirtualUnitWindow.h"

#include "link/FirmwareManager.h"
#include "sim/UnitFault.h"

#include <BinaryData.h>

#include <iostream>

namespace zelvor
{
bool flashHoldsBuiltInQexImage (const std::vector<std::uint8_t>& flash)
{
    static const auto builtInBlocks = QexImage::builtIn().blocks();

    for (const auto& block : builtInBlocks)
        if (block.address > flash.size() || block.length > flash.size() - block.address ||
            ! std::equal (block.data.begin(), block.data.end(), flash.begin() + block.address))
            return false;
    return ! builtInBlocks.empty();
}

bool dspBytesAreBuiltInDspImage (const std::vector<std::uint8_t>& received)
{
    const auto* image = reinterpret_cast<const std::uint8_t*> (BinaryData::dspImage_syx);
    return received.size() == (size_t) BinaryData::dspImage_syxSize &&
           std::equal (received.begin(), received.end(), image);
}

class VirtualUnitWindow::Panel : public juce::Component, private juce::Timer
{
public:
    Panel (VirtualUnit& u, const juce::String& initialFault, bool portsHeld)
        : unit (u), chosenFault (initialFault), held (portsHeld)
    {
        for (auto* label : {&pluggedLabel,
                            &modeLabel,
                            &portsLabel,
                            &blocksLabel,
                            &dspLabel,
                            &flashCheckLabel,
                            &dspCheckLabel,
                            &faultLabel})
        {
            label->setColour (juce::Label::textColourId, juce::Colours::white);
            addAndMakeVisible (*label);
        }
        faultLabel.setText ("Fault:", juce::dontSendNotification);

        for (auto* button : {&plugButton, &powerButton, &holdButton})
            addAndMakeVisible (*button);
        powerButton.setButtonText ("Power-cycle");

        plugButton.onClick = [this]
        {
            unit.isPluggedIn() ? unit.unplug() : unit.plugIn();
            applyFault();
            tell (unit.isPluggedIn() ? "unit: plugged in" : "unit: unplugged");
        };
        powerButton.onClick = [this]
        {
            unit.powerCycle();
            tell ("unit: power-cycled");
        };
        holdButton.onClick = [this]
        {
            held = ! held;
            applyFault();
            tell (held ? "unit: ports held" : "unit: ports released");
        };

        const auto names = UnitFault::names();
        for (int i = 0; i < names.size(); ++i)
            if (names[i] != "ports-held")
                faultBox.addItem (names[i], i + 1);
        faultBox.setText (chosenFault.upToFirstOccurrenceOf (":", false, false), juce::dontSendNotification);
        faultBox.onChange = [this]
        {
            chosenFault = faultBox.getText();
            applyFault();
            tell (("unit: fault " + chosenFault).toRawUTF8());
        };
        addAndMakeVisible (faultBox);

        refresh();
        startTimer (250);

        // The unit on the desk stays in reach while the updater shows a modal box: JUCE blocks
        // clicks on every other window then, but still tells global mouse listeners.
        juce::Desktop::getInstance().addGlobalMouseListener (this);
    }

    ~Panel() override
    {
        juce::Desktop::getInstance().removeGlobalMouseListener (this);
    }

    void mouseDown (const juce::MouseEvent& e) override
    {
        for (auto* button : {&plugButton, &powerButton, &holdButton})
            if (e.eventComponent == button && button->isCurrentlyBlockedByAnotherModalComponent() &&
                button->onClick != nullptr)
                button->onClick();
    }

    void paint (juce::Graphics& g) override
    {
        g.fillAll (juce::Colour (0xFF2B2F33));
    }

    // The three state labels and the three buttons from the top; the rest below them.
    struct Layout
    {
        std::array<juce::Rectangle<int>, 3> labels, buttons;
        juce::Rectangle<int> rest;
    };
    static Layout layoutFor (juce::Rectangle<int> bounds)
    {
        Layout layout;
        auto area = bounds.reduced (12);
        for (auto& label : layout.labels)
            label = area.removeFromTop (22);
        area.removeFromTop (6);
        auto buttons = area.removeFromTop (28);
        const int third = buttons.getWidth() / 3;
        layout.buttons[0] = buttons.removeFromLeft (third).reduced (2, 0);
        layout.buttons[1] = buttons.removeFromLeft (third).reduced (2, 0);
        layout.buttons[2] = buttons.reduced (2, 0);
        layout.rest = area;
        return layout;
    }

    void resized() override
    {
        const auto layout = layoutFor (getLocalBounds());
        pluggedLabel.setBounds (layout.labels[0]);
        modeLabel.setBounds (layout.labels[1]);
        portsLabel.setBounds (layout.labels[2]);
        plugButton.setBounds (layout.buttons[0]);
        powerButton.setBounds (layout.buttons[1]);
        holdButton.setBounds (layout.buttons[2]);
        auto area = layout.rest;

        area.removeFromTop (8);
        auto faultRow = area.removeFromTop (26);
        faultLabel.setBounds (faultRow.removeFromLeft (50));
        faultBox.setBounds (faultRow);

        area.removeFromTop (8);
        for (auto* label : {&blocksLabel, &dspLabel, &flashCheckLabel, &dspCheckLabel})
            label->setBounds (area.removeFromTop (22));
    }

private:
    // What the person at the desk did, on stdout beside the updater's boxes, for scripts.
    void tell (const char* what)
    {
        std::cout << what << std::endl;
        refresh();
    }

    void applyFault()
    {
        // Holding the ports is how the virtual unit plays "another program has them open".
        unit.setFault (held ? juce::String ("ports-held") : chosenFault);
    }

    void timerCallback() override
    {
        refresh();
    }

    void refresh()
    {
        const bool plugged = unit.isPluggedIn();
        pluggedLabel.setText (plugged ? "Plugged in" : "Unplugged", juce::dontSendNotification);
        modeLabel.setText (unit.isInLoader() ? "Running its loader" : "Running its normal firmware",
                           juce::dontSendNotification);
        portsLabel.setText (held ? "Ports held by another program" : "Ports free", juce::dontSendNotification);
        plugButton.setButtonText (plugged ? "Unplug" : "Plug in");
        holdButton.setButtonText (held ? "Release ports" : "Hold ports");

        const auto flash = unit.flash();
        const auto dsp = unit.dspReceived();
        blocksLabel.setText ("Data blocks written: " +
                                 juce::String (unit.dataBlocksReceived() - unit.badDataBlocksReceived()),
                             juce::dontSendNotification);
        dspLabel.setText ("DSP bytes received: " + juce::String ((juce::int64) dsp.size()), juce::dontSendNotification);
        flashCheckLabel.setText (juce::String ("Flash holds the built-in QEX image: ") +
                                     (flashHoldsBuiltInQexImage (flash) ? "yes" : "no"),
                                 juce::dontSendNotification);
        dspCheckLabel.setText (juce::String ("DSP bytes equal the built-in DSP image: ") +
                                   (dspBytesAreBuiltInDspImage (dsp) ? "yes" : "no"),
                               juce::dontSendNotification);
    }

    VirtualUnit& unit;
    juce::String chosenFault;
    bool held;
    juce::Label pluggedLabel, modeLabel, portsLabel, blocksLabel, dspLabel, flashCheckLabel, dspCheckLabel, faultLabel;
    juce::TextButton plugButton, powerButton, holdButton;
    juce::ComboBox faultBox;
};

VirtualUnitWindow::VirtualUnitWindow (VirtualUnit& unit,
                                      const juce::String& initialFault,
                                      bool portsHeld,
                                      const juce::String& title)
    : juce::DocumentWindow (title, juce::Colour (0xFF2B2F33), juce::DocumentWindow::minimiseButton, true)
{
    setContentOwned (new Panel (unit, initialFault, portsHeld), false);
    setUsingNativeTitleBar (true);
    setResizable (false, false);
    setSize (width, height);
}

std::array<juce::Rectangle<int>, 3> VirtualUnitWindow::buttonBounds()
{
    return Panel::layoutFor ({width, height}).buttons;
}

VirtualUnitWindow::~VirtualUnitWindow()
{
    clearContentComponent();
}

void VirtualUnitWindow::closeButtonPressed()
{
}
} // namespace zelvor
