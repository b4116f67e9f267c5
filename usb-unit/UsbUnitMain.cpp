// zelvor-usb-unit: the virtual unit as a USB-MIDI device. It makes a USB gadget with one MIDI
// function through configfs, binds it to a device controller (dummy_hcd's on a test machine),
// and serves the virtual unit over it: what the host sends arrives as a byte stream on the
// gadget's rawmidi device, is cut into messages and handed to the unit; its replies go back the
// same way. Its ports coming and going (the restart into the loader, unplug, power cycle) are
// the gadget unbound and bound again, the loader under its own USB strings.
//
// SIGUSR1 power-cycles the unit, SIGUSR2 unplugs it or plugs it in again; SIGINT, SIGTERM and
// SIGHUP end the program, which then removes its gadget and writes its outputs.

#include "link/Pacing.h"
#include "sim/CommandLine.h"
#include "sim/MidiStreamAssembler.h"
#include "sim/UnitOutputs.h"
#include "sim/VirtualUnit.h"
#include "usb-unit/UsbGadget.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace zelvor;

namespace
{
struct Options
{
    double speed = 1.0;
    juce::String fault{"none"};
    bool unplugged = false;
    bool inLoader = false;
    juce::File logFile, flashFile, dspReceivedFile;
    juce::String gadgetName{"zelvor"};
    juce::String udc{"dummy_udc.0"};
    juce::String configfs{"/sys/kernel/config"};
};

std::optional<int> parseArguments (const juce::StringArray& arguments, Options& options)
{
    CommandLine::Options parser ("zelvor-usb-unit");
    parser.speed (options.speed);
    parser.fault (options.fault);
    parser.flag ("--unplugged", options.unplugged, "start with the unit unplugged");
    parser.flag ("--in-loader", options.inLoader, "start in the loader, as a unit whose update was cut short");
    parser.unitOutputs (options.logFile, options.flashFile, options.dspReceivedFile, "when the unit stops");
    parser.text ("--gadget", options.gadgetName, "the gadget's name in configfs (default zelvor)");
    parser.text ("--udc", options.udc, "the USB device controller to bind to (default dummy_udc.0)");
    parser.text ("--configfs", options.configfs, "where configfs is mounted (default /sys/kernel/config)");
    return parser.parse (arguments);
}

std::atomic<int> stopSignal{0};
std::atomic<int> powerCycleRequests{0};
std::atomic<int> plugToggleRequests{0};

void onSignal (int signalNumber)
{
    if (signalNumber == SIGUSR1)
        powerCycleRequests.fetch_add (1);
    else if (signalNumber == SIGUSR2)
        plugToggleRequests.fetch_add (1);
    else
        stopSignal.store (signalNumber);
}

void installSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction (signalNumber, &action, nullptr);
    std::signal (SIGPIPE, SIG_IGN);
}

void say (const juce::String& line)
{
    std::printf ("usb-unit: %s\n", line.toRawUTF8());
    std::fflush (stdout);
}

// Stands between the gadget and the virtual unit: it is the host on the unit's virtual ports
// and the device on the USB side, and follows the unit's ports with the gadget's binding.
class UsbBridge : private juce::MidiInputCallback
{
public:
    UsbBridge (VirtualMidiService& s, VirtualUnit& u, UsbGadget& g) : service (s), unit (u), gadget (g)
    {
    }

    ~UsbBridge() override
    {
        disconnect();
    }

    // Brings the gadget in line with the unit; false with an error when it cannot be bound.
    bool follow (juce::String& error)
    {
        const bool unitPresent =
            unitPortIndex (service.getInputNames()) >= 0 && unitPortIndex (service.getOutputNames()) >= 0;
        if (! unitPresent)
        {
            if (connected)
                disconnect();
            return true;
        }

        const bool loader = unit.isInLoader();
        if (connected && loader == connectedAsLoader)
            return true;
        if (connected)
            disconnect(); // a new plug-in between two looks: re-enumerate

        return connect (loader, error);
    }

    void disconnect()
    {
        if (! connected)
            return;

        // A reply written just before the ports went (the enter-loader acknowledgement) must
        // leave the gadget before the cable is pulled.
        if (fromUnit != nullptr)
            fromUnit->stop();
        drainOutput();
        raw.close();
        fromUnit.reset();
        {
            const std::lock_guard<std::mutex> guard (toUnitLock);
            toUnit.reset();
        }
        gadget.unbind();
        connected = false;
        say ("unbound");
    }

private:
    static int unitPortIndex (const juce::StringArray& names)
    {
        for (int i = 0; i < names.size(); ++i)
            if (names[i].containsIgnoreCase ("Zelvor"))
                return i;
        return -1;
    }

    bool connect (bool loader, juce::String& error)
    {
        UsbGadget::Identity identity;
        identity.manufacturer = "Sorvanta";
        identity.product = loader ? "Sorvanta Zelvor Loader" : "Sorvanta Zelvor USB MIDI";
        identity.serialNumber = "ZV0120";
        identity.productId = loader ? 0x5a02 : 0x5a01;
        if (! gadget.bind (identity, error))
            return false;

        const auto device = gadget.waitForRawMidi (5000);
        if (device.isEmpty())
        {
            gadget.unbind();
            error = "the gadget's rawmidi device did not appear";
            return false;
        }

        toUnit = service.openOutput (unitPortIndex (service.getOutputNames()));
        fromUnit = service.openInput (unitPortIndex (service.getInputNames()), this);
        assembler.reset();
        if (! raw.open (
                device, [this] (const std::uint8_t* data, int size) { fromHost (data, size); }, error))
        {
            fromUnit.reset();
            toUnit.reset();
            gadget.unbind();
            return false;
        }
        if (fromUnit != nullptr)
            fromUnit->start();

        connected = true;
        connectedAsLoader = loader;
        say ("bound as " + identity.product + " (" + device + ")");
        return true;
    }

    // On the rawmidi reader's thread.
    void fromHost (const std::uint8_t* data, int size)
    {
        assembler.feed (data,
                        size,
                        [this] (const std::uint8_t* bytes, int count)
                        {
                            const std::lock_guard<std::mutex> guard (toUnitLock);
                            if (toUnit != nullptr)
                                toUnit->sendMessageNow (juce::MidiMessage (bytes, count));
                        });
    }

    // On the virtual service's delivery thread: the unit's replies.
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
    {
        raw.write (message.getRawData(), message.getRawDataSize());
    }

    void drainOutput()
    {
        if (! raw.isOpen())
            return;
        raw.drain();
    }

    VirtualMidiService& service;
    VirtualUnit& unit;
    UsbGadget& gadget;
    RawMidiPort raw;
    MidiStreamAssembler assembler; // only the reader's thread feeds it
    std::mutex toUnitLock;
    std::unique_ptr<MidiOutputPort> toUnit;
    std::unique_ptr<MidiInputPort> fromUnit;
    bool connected = false;
    bool connectedAsLoader = false;
};
} // namespace

int main (int argc, char** argv)
{
    Options options;
    if (const auto status = parseArguments (CommandLine::arguments (argc, argv), options))
        return *status;

    installSignalHandlers();
    Pacing::setSpeed (options.speed);

    juce::String error;
    auto gadget = UsbGadget::create (options.configfs, options.gadgetName, options.udc, error);
    if (gadget == nullptr)
    {
        std::fprintf (stderr, "zelvor-usb-unit: %s\n", error.toRawUTF8());
        return 2;
    }

    int exitCode = 0;
    juce::StringArray unwritten;
    {
        VirtualMidiService service;
        UnitOutputs outputs (service, options.logFile, options.flashFile, options.dspReceivedFile);

        VirtualUnit::Options unitOptions;
        unitOptions.pluggedIn = ! options.unplugged;
        unitOptions.startInLoader = options.inLoader;
        VirtualUnit unit (service, unitOptions);
        unit.setFault (options.fault);

        {
            UsbBridge bridge (service, unit, *gadget);
            bool first = true;
            while (stopSignal.load() == 0)
            {
                if (powerCycleRequests.exchange (0) > 0)
                {
                    say ("power cycle");
                    unit.powerCycle();
                }
                if (plugToggleRequests.exchange (0) > 0)
                {
                    if (unit.isPluggedIn())
                        unit.unplug();
                    else
                        unit.plugIn();
                    say (unit.isPluggedIn() ? "plugged in" : "unplugged");
                }

                if (! bridge.follow (error))
                {
                    std::fprintf (stderr, "zelvor-usb-unit: %s\n", error.toRawUTF8());
                    exitCode = first ? 2 : 1;
                    break;
                }
                first = false;
                juce::Thread::sleep (2);
            }
        }

        service.waitUntilIdle();
        outputs.finish (unit);
        unwritten = outputs.unwritten();
    }
    gadget.reset();

    if (! unwritten.isEmpty())
    {
        std::fprintf (stderr, "zelvor-usb-unit: cannot write %s\n", unwritten.joinIntoString (", ").toRawUTF8());
        if (exitCode == 0)
            exitCode = 1;
    }
    say ("stopped");
    return exitCode;
}
