#include "link/MidiPortService.h"
#include "link/Protocol.h"

#if JUCE_LINUX && JUCE_ALSA
 #include <alsa/asoundlib.h>
 #include <cstdio>
#endif

#if JUCE_WINDOWS
 #include <windows.h>
#endif

#include <atomic>
#include <mutex>

namespace zelvor
{
namespace
{
    // JUCE's ALSA code keeps its sequencer client in a plain static pointer that the first user
    // creates and the last one destroys, with no lock: two threads that list, open or close at
    // once can each make a client and free a port through the wrong one. Every call into JUCE's
    // MIDI device code (listing, open, start, stop, close) is made under this lock. Sends are
    // not: they go through a port's own client, and a driver that never completes one must not
    // freeze the window's listings.
    std::recursive_mutex& deviceLock()
    {
        static std::recursive_mutex lock;
        return lock;
    }

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

    juce::Array<juce::MidiDeviceInfo> listedByJuce (bool inputs)
    {
        return inputs ? juce::MidiInput::getAvailableDevices() : juce::MidiOutput::getAvailableDevices();
    }

#if JUCE_LINUX && JUCE_ALSA
    // JUCE lists through its shared sequencer client, which it makes and drops for each listing
    // while none of its ports is open: every other MIDI program is told of a client that comes
    // and goes, once a second while the updater waits for the unit. The seam lists through a
    // client of its own, opened once and kept (it has no ports, so it is never listed itself),
    // and lists as JUCE does: every port a subscription can read from (inputs) or write to
    // (outputs), identified as "client-port".
    juce::Array<juce::MidiDeviceInfo> devicesListed (bool inputs)
    {
        static snd_seq_t* const seq = []
        {
            snd_seq_t* opened = nullptr;
            if (snd_seq_open (&opened, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
                return (snd_seq_t*) nullptr;
            snd_seq_set_client_name (opened, "Zelvor Updater");
            return opened;
        }();
        if (seq == nullptr)
            return listedByJuce (inputs);

        juce::Array<juce::MidiDeviceInfo> devices;
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca (&client);
        snd_seq_port_info_alloca (&port);
        snd_seq_client_info_set_client (client, -1);
        while (snd_seq_query_next_client (seq, client) == 0)
        {
            const int clientId = snd_seq_client_info_get_client (client);
            snd_seq_port_info_set_client (port, clientId);
            snd_seq_port_info_set_port (port, -1);
            while (snd_seq_query_next_port (seq, port) == 0)
                if ((snd_seq_port_info_get_capability (port) &
                     (inputs ? SND_SEQ_PORT_CAP_SUBS_READ : SND_SEQ_PORT_CAP_SUBS_WRITE)) != 0)
                    devices.add ({snd_seq_port_info_get_name (port),
                                  juce::String (clientId) + "-" + juce::String (snd_seq_port_info_get_port (port))});
        }
        return devices;
    }
#else
    juce::Array<juce::MidiDeviceInfo> devicesListed (bool inputs)
    {
        return listedByJuce (inputs);
    }
#endif

    juce::Array<MidiPortInfo> portsListed (bool inputs)
    {
        const std::lock_guard<std::recursive_mutex> lock (deviceLock());
        juce::Array<MidiPortInfo> ports;
        for (const auto& device : devicesListed (inputs))
        {
#if JUCE_LINUX && JUCE_ALSA
            // The sequencer client is the device: its ports are the device's ports.
            const auto client = device.identifier.upToFirstOccurrenceOf ("-", false, false);
#else
            // Elsewhere nothing but the name ties an input to its output.
            const juce::String client;
#endif
            ports.add ({device.name, device.identifier, client});
        }
        return ports;
    }

    // Whether a device with this identifier is still listed: a device that re-enumerated (a unit
    // that lost power and came back) is listed under a new one.
    bool stillListed (bool input, const juce::String& identifier)
    {
        const std::lock_guard<std::recursive_mutex> lock (deviceLock());
        for (const auto& device : devicesListed (input))
            if (device.identifier == identifier)
                return true;
        return false;
    }

    // Relays the input's messages to the link, noting when the last one came in. JUCE's Windows
    // input hands a finished buffer back to the driver after its callback has returned, outside
    // any lock: stopped at that moment, the buffer stays queued, the device cannot be closed,
    // and every later open of it fails (under Wine the unit's loader then went unheard after the
    // switch into it, whose acknowledgement came just before the ports closed). So a stop waits
    // for a quiet line first, a moment at the most.
    class JuceInputPort : public MidiInputPort, private juce::MidiInputCallback
    {
    public:
        explicit JuceInputPort (juce::MidiInputCallback* linkCallback) : target (linkCallback)
        {
        }

        bool open (const juce::String& identifier)
        {
            input = juce::MidiInput::openDevice (identifier, this);
            return input != nullptr;
        }

        bool stillConnected() const override
        {
            return stillListed (true, input->getIdentifier());
        }

        ~JuceInputPort() override
        {
            waitForQuietLine();
            const std::lock_guard<std::recursive_mutex> lock (deviceLock());
            input = nullptr;
        }

        void start() override
        {
            const std::lock_guard<std::recursive_mutex> lock (deviceLock());
            input->start();
        }

        void stop() override
        {
            waitForQuietLine();
            const std::lock_guard<std::recursive_mutex> lock (deviceLock());
            input->stop();
        }

    private:
        void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override
        {
            lastMessageAt.store (juce::Time::getMillisecondCounterHiRes());
            if (target != nullptr)
                target->handleIncomingMidiMessage (source, message);
            lastMessageAt.store (juce::Time::getMillisecondCounterHiRes());
        }

        void waitForQuietLine() const
        {
            const auto limit = juce::Time::getMillisecondCounterHiRes() + Protocol::inputQuietLimitMs;
            for (auto now = juce::Time::getMillisecondCounterHiRes();
                 now - lastMessageAt.load() < Protocol::inputQuietMs && now < limit;
                 now = juce::Time::getMillisecondCounterHiRes())
                juce::Thread::sleep (10);
        }

        juce::MidiInputCallback* target;
        std::atomic<double> lastMessageAt{0.0};
        std::unique_ptr<juce::MidiInput> input;
    };

    class JuceOutputPort : public MidiOutputPort
    {
    public:
        explicit JuceOutputPort (std::unique_ptr<juce::MidiOutput> out) : output (std::move (out))
        {
        }

        bool stillConnected() const override
        {
            return stillListed (false, output->getIdentifier());
        }

        ~JuceOutputPort() override
        {
            const std::lock_guard<std::recursive_mutex> lock (deviceLock());
            output = nullptr;
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            output->sendMessageNow (message);
        }

    private:
        std::unique_ptr<juce::MidiOutput> output;
    };
} // namespace

juce::Array<MidiPortInfo> JuceMidiPortService::listInputs()
{
    return portsListed (true);
}

juce::Array<MidiPortInfo> JuceMidiPortService::listOutputs()
{
    return portsListed (false);
}

std::unique_ptr<MidiInputPort> JuceMidiPortService::openInputPort (const juce::String& identifier,
                                                                   juce::MidiInputCallback* callback)
{
    const std::lock_guard<std::recursive_mutex> lock (deviceLock());
    auto input = std::make_unique<JuceInputPort> (callback);
    if (input->open (identifier) && sequencerPortTakesUs (identifier, true))
        return input;

    return nullptr;
}

bool JuceMidiPortService::sendsWholeMessagesOnly() const
{
#if JUCE_LINUX || JUCE_BSD
    return true;
#elif JUCE_WINDOWS
    // A real Windows driver takes one SysEx message in several long buffers, passing their
    // bytes on as they are (the platform's own documentation on sending system-exclusive
    // messages in several data blocks). Wine wraps every long buffer that does not start with
    // F0 in an F0 ... F7 of its own, so there a message sent in pieces arrives broken.
    static const bool underWine = []
    {
        const auto ntdll = GetModuleHandleA ("ntdll.dll");
        return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
    }();
    return underWine;
#else
    return false;
#endif
}

juce::String JuceMidiPortService::serviceName() const
{
#if JUCE_LINUX || JUCE_BSD
    return "ALSA sequencer";
#elif JUCE_WINDOWS
    return sendsWholeMessagesOnly() ? "Windows MIDI (WinMM) under Wine" : "Windows MIDI (WinMM)";
#else
    return "the system's MIDI";
#endif
}

std::unique_ptr<MidiOutputPort> JuceMidiPortService::openOutputPort (const juce::String& identifier)
{
    const std::lock_guard<std::recursive_mutex> lock (deviceLock());
    if (auto output = juce::MidiOutput::openDevice (identifier))
        if (sequencerPortTakesUs (identifier, false))
            return std::make_unique<JuceOutputPort> (std::move (output));

    return nullptr;
}
} // namespace zelvor
