#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>

namespace zelvor
{
// An open input port. Incoming messages reach the callback given at opening, on a thread of
// the service's own, from start() until stop().
class MidiInputPort
{
public:
    virtual ~MidiInputPort() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    // False once the device this port was opened on has gone, even when a device of the same
    // name is back (a unit that lost power and came back re-enumerates).
    virtual bool stillConnected() const
    {
        return true;
    }
};

// An open output port; sendMessageNow returns once the bytes are handed to the port.
class MidiOutputPort
{
public:
    virtual ~MidiOutputPort() = default;
    virtual void sendMessageNow (const juce::MidiMessage& message) = 0;
    // As MidiInputPort::stillConnected.
    virtual bool stillConnected() const
    {
        return true;
    }
};

// One port as the platform lists it. `device` is the same for every port of one device where
// the platform tells it (ALSA: the sequencer client), and empty where it does not.
struct MidiPortInfo
{
    juce::String name;
    juce::String identifier;
    juce::String device;
};

// The machine's MIDI ports, as the link sees them. The program uses the system's ports through
// JUCE; tests, tools and the demo install a virtual service in its place.
class MidiPortService
{
public:
    virtual ~MidiPortService() = default;

    // The ports in the platform's order.
    virtual juce::Array<MidiPortInfo> listInputs() = 0;
    virtual juce::Array<MidiPortInfo> listOutputs() = 0;

    // Opens the port listed under this identifier, never another one that took its place in the
    // list. Null when it is gone or cannot be opened (for example while another program holds it).
    virtual std::unique_ptr<MidiInputPort> openInputPort (const juce::String& identifier,
                                                          juce::MidiInputCallback* callback) = 0;
    virtual std::unique_ptr<MidiOutputPort> openOutputPort (const juce::String& identifier) = 0;

    // The names alone, and opening by the index in a fresh listing: for tools and tests.
    juce::StringArray getInputNames();
    juce::StringArray getOutputNames();
    std::unique_ptr<MidiInputPort> openInput (int index, juce::MidiInputCallback* callback);
    std::unique_ptr<MidiOutputPort> openOutput (int index);

    // True where each send must be a whole message: a SysEx sent in pieces never arrives.
    virtual bool sendsWholeMessagesOnly() const
    {
        return false;
    }

    // What carries the ports, in a few words, for a failure's details ("ALSA sequencer").
    virtual juce::String serviceName() const = 0;

    // The service in use: the installed one, or the system's.
    static MidiPortService& current();

    // Installs a service for the whole process (null restores the system's). The caller keeps
    // ownership and must uninstall it before destroying it, with no port of it left open.
    static void install (MidiPortService* service);
};

// The system's MIDI ports through JUCE.
class JuceMidiPortService : public MidiPortService
{
public:
    juce::Array<MidiPortInfo> listInputs() override;
    juce::Array<MidiPortInfo> listOutputs() override;
    std::unique_ptr<MidiInputPort> openInputPort (const juce::String& identifier,
                                                  juce::MidiInputCallback* callback) override;
    std::unique_ptr<MidiOutputPort> openOutputPort (const juce::String& identifier) override;

    // JUCE's ALSA output encodes every send on its own and resets its encoder afterwards, so
    // the first piece of a SysEx (no F7) makes no event and the next (no F0) is dropped.
    bool sendsWholeMessagesOnly() const override;
    juce::String serviceName() const override;
};
} // namespace zelvor
