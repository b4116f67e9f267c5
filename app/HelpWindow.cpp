#include "app/HelpWindow.h"

namespace zelvor
{
HelpWindow::HelpWindow() : juce::DialogWindow ("Zelvor Librarian Help", juce::Colour (backgroundColour), false, true)
{
    helpText = new juce::TextEditor (juce::String());
    setContentOwned (helpText, false);
    helpText->setColour (juce::TextEditor::backgroundColourId, juce::Colour (backgroundColour));
    helpText->setMultiLine (true, false);
    helpText->setReturnKeyStartsNewLine (true);
    helpText->setReadOnly (true);
    setResizable (true, true);
}

HelpWindow::~HelpWindow()
{
    clearContentComponent();
}

void HelpWindow::closeButtonPressed()
{
    setVisible (false);
}
} // namespace zelvor
