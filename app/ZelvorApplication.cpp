#include "app/ZelvorApplication.h"

namespace zelvor
{
void ZelvorApplication::initialise (const juce::String&)
{
    mainWindow = std::make_unique<ZelvorWindow>();
    mainWindow->centreWithSize (400, 200);
    mainWindow->setVisible (true);
}

void ZelvorApplication::shutdown()
{
    mainWindow = nullptr;
}

const juce::String ZelvorApplication::getApplicationName()
{
    return "ZelvorUtil";
}

const juce::String ZelvorApplication::getApplicationVersion()
{
    return programVersion;
}

bool ZelvorApplication::moreThanOneInstanceAllowed()
{
    return true;
}

void ZelvorApplication::anotherInstanceStarted (const juce::String&)
{
}
} // namespace zelvor
