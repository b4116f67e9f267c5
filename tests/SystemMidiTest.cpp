#include "link/MidiPortService.h"
#include "link/PortDiscovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#if JUCE_LINUX && JUCE_ALSA
 #include <alsa/asoundlib.h>
#endif

using namespace zelvor;

// The system's MIDI ports through JUCE, on a machine with the unit plugged in (the USB machine
// runs this with the virtual unit on USB; elsewhere it is skipped). The panel lists the ports
// on the message thread while the run's and the link's threads open and close them: with JUCE's
// sequencer client shared between them, no listing may meet an open or a close.
namespace
{
struct NoCallback : juce::MidiInputCallback
{
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override
    {
    }
};
} // namespace

TEST (SystemMidi, ListingWhileAnotherThreadOpensAndClosesTheUnitsPorts)
{
    JuceMidiPortService service;
    if (findUnitPort (service.getInputNames()) < 0 || findUnitPort (service.getOutputNames()) < 0)
        GTEST_SKIP() << "no unit among the system's MIDI ports";

    const int rounds = juce::SystemStats::getEnvironmentVariable ("ZELVOR_SYSTEM_MIDI_ROUNDS", "300").getIntValue();
    std::atomic<bool> done{false};
    std::atomic<int> listings{0};
    std::thread lister (
        [&]
        {
            while (! done.load())
            {
                service.getInputNames();
                service.getOutputNames();
                ++listings;
            }
        });

    NoCallback callback;
    int opened = 0;
    for (int round = 0; round < rounds; ++round)
    {
        auto input = service.openInput (findUnitPort (service.getInputNames()), &callback);
        auto output = service.openOutput (findUnitPort (service.getOutputNames()));
        if (input != nullptr && output != nullptr)
        {
            ++opened;
            input->start();
            input->stop();
        }
        input = nullptr;
        output = nullptr;
    }
    done.store (true);
    lister.join();

    std::printf ("%d rounds, %d with both ports open, %d listings beside them\n", rounds, opened, listings.load());
    EXPECT_EQ (opened, rounds);
    EXPECT_GT (listings.load(), rounds);
}

#if JUCE_LINUX && JUCE_ALSA
// The panel lists the ports once a second while it waits for the unit, with no port open. Other
// MIDI programs hear of every sequencer client that starts or ends (the system's announce
// port): none may come and go with the listings.
TEST (SystemMidi, ListingWithNoPortOpenAnnouncesNoClient)
{
    JuceMidiPortService service;
    if (findUnitPort (service.getInputNames()) < 0)
        GTEST_SKIP() << "no unit among the system's MIDI ports";

    // Another MIDI program, listening to the announcements.
    snd_seq_t* listener = nullptr;
    ASSERT_GE (snd_seq_open (&listener, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK), 0);
    const int port =
        snd_seq_create_simple_port (listener, "announcements", SND_SEQ_PORT_CAP_WRITE, SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE (port, 0);
    ASSERT_GE (snd_seq_connect_from (listener, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE), 0);

    for (int i = 0; i < 20; ++i)
    {
        service.getInputNames();
        service.getOutputNames();
    }
    std::this_thread::sleep_for (std::chrono::milliseconds (200));

    int clientsCameOrWent = 0;
    snd_seq_event_t* event = nullptr;
    while (snd_seq_event_input (listener, &event) >= 0)
        if (event->type == SND_SEQ_EVENT_CLIENT_START || event->type == SND_SEQ_EVENT_CLIENT_EXIT)
            ++clientsCameOrWent;
    snd_seq_close (listener);

    std::printf ("%d clients came or went over 20 listings\n", clientsCameOrWent);
    EXPECT_EQ (clientsCameOrWent, 0);
}
#endif
