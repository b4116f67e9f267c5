#include "link/MidiPortService.h"
#include "link/PortDiscovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zelvor;

// The system's MIDI ports through JUCE, on a machine with the unit plugged in (the USB machine
// runs this with the virtual unit on USB; elsewhere it is skipped). The panel lists the ports
// on the message thread while the run's and the link's threads open and close them: with JUCE's
// sequencer client shared between them, no listing may meet an open or a close.
namespace
{
struct NoCallback : juce::MidiInputCallback
{
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
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
    std::thread lister ([&]
                        {
                            while (! done.load())
                            {
                                service.getInputNames();
                                service.getOutputNames();
                                ++listings;
                            } });

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
