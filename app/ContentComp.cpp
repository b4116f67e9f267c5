#include "app/ContentComp.h"

#include <BinaryData.h>

namespace zelvor
{
ContentComp::ContentComp (ZelvorWindow& owner)
    : ownerWindow (owner)
{
    backgroundImage = juce::ImageFileFormat::loadFrom (BinaryData::background_png, (size_t) BinaryData::background_pngSize);
}

ContentComp::~ContentComp()
{
    backgroundImage = {};
    deleteAllChildren();
}

void ContentComp::paint (juce::Graphics& g)
{
    // Drawn once from the origin: a larger (maximised) window shows the window colour beyond it.
    g.setFillType (juce::FillType (backgroundImage, juce::AffineTransform()));
    g.fillRect (0, 0, backgroundWidth, backgroundHeight);
}

void ContentComp::resized()
{
    if (currentPanel != nullptr)
        currentPanel->setBounds (getLocalBounds());
}

juce::ApplicationCommandTarget* ContentComp::getNextCommandTarget()
{
    return findFirstTargetParentComponent();
}

void ContentComp::getAllCommands (juce::Array<juce::CommandID>&)
{
}

void ContentComp::getCommandInfo (juce::CommandID, juce::ApplicationCommandInfo&)
{
}

bool ContentComp::perform (const InvocationInfo&)
{
    return false;
}
} // namespace zelvor
