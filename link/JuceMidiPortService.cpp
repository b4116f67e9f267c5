#include "link/MidiPortService.h"

namespace zelvor
{
namespace
{
    juce::StringArray namesOf (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        juce::StringArray names;
        for (const auto& device : devices)
            names.add (device.name);
        return names;
    }

    class JuceInputPort : public MidiInputPort
    {
    public:
        explicit JuceInputPort (std::unique_ptr<juce::MidiInput> in)
            : input (std::move (in))
        {
        }

        void start() override
        {
            input->start();
        }

        void stop() override
        {
            input->stop();
        }

    private:
        std::unique_ptr<juce::MidiInput> input;
    };

    class JuceOutputPort : public MidiOutputPort
    {
    public:
        explicit JuceOutputPort (std::unique_ptr<juce::MidiOutput> out)
            : output (std::move (out))
        {
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            output->sendMessageNow (message);
        }

    private:
        std::unique_ptr<juce::MidiOutput> output;
    };
} // namespace

juce::StringArray JuceMidiPortService::getInputNames()
{
    return namesOf (juce::MidiInput::getAvailableDevices());
}

juce::StringArray JuceMidiPortService::getOutputNames()
{
    return namesOf (juce::MidiOutput::getAvailableDevices());
}

std::unique_ptr<MidiInputPort> JuceMidiPortService::openInput (int index, juce::MidiInputCallback* callback)
{
    const auto devices = juce::MidiInput::getAvailableDevices();
    if (! juce::isPositiveAndBelow (index, devices.size()))
        return nullptr;

    if (auto input = juce::MidiInput::openDevice (devices[index].identifier, callback))
        return std::make_unique<JuceInputPort> (std::move (input));

    return nullptr;
}

bool JuceMidiPortService::sendsWholeMessagesOnly() const
{
#if JUCE_LINUX || JUCE_BSD
    return true;
#else
    return false;
#endif
}

std::unique_ptr<MidiOutputPort> JuceMidiPortService::openOutput (int index)
{
    const auto devices = juce::MidiOutput::getAvailableDevices();
    if (! juce::isPositiveAndBelow (index, devices.size()))
        return nullptr;

    if (auto output = juce::MidiOutput::openDevice (devices[index].identifier))
        return std::make_unique<JuceOutputPort> (std::move (output));

    return nullptr;
}
} // namespace zelvor
