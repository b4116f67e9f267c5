#include "link/MidiPortService.h"

#if JUCE_LINUX && JUCE_ALSA
#include <alsa/asoundlib.h>
#include <cstdio>
#endif

namespace zelvor
{
namespace
{
#if JUCE_LINUX && JUCE_ALSA
    // JUCE's ALSA code ignores a refused subscription, so a port whose device another program
    // holds (its raw MIDI device opened directly) opens and then carries nothing. A probe port
    // of our own, subscribed the same way, is refused in the same case. JUCE's identifiers
    // there are "client-port".
    bool sequencerPortTakesUs (const juce::String& identifier, bool fromUnit)
    {
        int client = 0, port = 0;
        if (std::sscanf (identifier.toRawUTF8(), "%d-%d", &client, &port) != 2)
            return true;

        snd_seq_t* seq = nullptr;
        if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
            return false;
        // Not a name the unit's port word matches: the probe is listed for a moment.
        snd_seq_set_client_name (seq, "port check");
        const unsigned int caps = fromUnit ? SND_SEQ_PORT_CAP_WRITE : SND_SEQ_PORT_CAP_READ;
        const int own = snd_seq_create_simple_port (seq, "port check", caps, SND_SEQ_PORT_TYPE_APPLICATION);
        const bool taken = own >= 0 && (fromUnit ? snd_seq_connect_from (seq, own, client, port)
                                                 : snd_seq_connect_to (seq, own, client, port)) == 0;
        snd_seq_close (seq);
        return taken;
    }
#else
    bool sequencerPortTakesUs (const juce::String&, bool)
    {
        return true;
    }
#endif

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
        if (sequencerPortTakesUs (devices[index].identifier, true))
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
        if (sequencerPortTakesUs (devices[index].identifier, false))
            return std::make_unique<JuceOutputPort> (std::move (output));

    return nullptr;
}
} // namespace zelvor
