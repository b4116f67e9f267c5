#include "TestSupport.h"

#include "link/SysexCodec.h"

using namespace zelvor;
using namespace zelvor::test;

namespace
{
juce::MidiMessage messageOf (const Sysex::FixedMessage& m)
{
    return juce::MidiMessage (m.bytes, m.size, 0.0);
}

juce::MidiMessage messageOf (const Bytes& bytes)
{
    return juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0);
}

Bytes dspReply (std::uint8_t code, int totalLength)
{
    Bytes m{0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, code};
    m.resize ((size_t) totalLength - 1, 0x00);
    m.push_back (0xF7);
    return m;
}

class LinkHandler : public WithVirtualMidi
{
protected:
    void receive (const juce::MidiMessage& m)
    {
        link.handleIncomingMidiMessage (nullptr, m);
    }

    FirmwareManager link;
};

using LinkPolls = LinkHandler;

class PortDiscovery : public WithVirtualMidi
{
protected:
    struct Ignore : juce::MidiInputCallback
    {
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override
        {
        }
    } ignore;
};
} // namespace

TEST (PortDiscoveryNames, WordMatchesAnywhereInAnyCase)
{
    EXPECT_EQ (findUnitPort ({"Sorvanta Zelvor USB MIDI"}), 0);
    EXPECT_EQ (findUnitPort ({"SORVANTA ZELVOR USB MIDI"}), 0);
    EXPECT_EQ (findUnitPort ({"sorvanta zelvor in/out"}), 0);
    EXPECT_EQ (findUnitPort ({"Midi Through", "zelvorX"}), 1);
    EXPECT_EQ (findUnitPort ({"Sorvanta Zelvo USB MIDI"}), -1);
    EXPECT_EQ (findUnitPort ({"Other", "Zelvor A", "Zelvor B"}), 1);
    EXPECT_EQ (findUnitPort ({}), -1);
}

TEST (PortDiscoveryNames, EachInputPairsWithTheOutputOfItsOwnDevice)
{
    auto port = [] (const char* name, const char* id, const char* device) { return MidiPortInfo{name, id, device}; };
    auto idsOf = [] (const std::vector<UnitPorts>& pairs)
    {
        juce::StringArray ids;
        for (const auto& p : pairs)
            ids.add (p.input.identifier + ">" + p.output.identifier);
        return ids;
    };

    // ALSA tells the device (the client): listed in other orders, each input still finds its own
    // output; a device with an input only is no candidate, and other ports are none either.
    const juce::Array<MidiPortInfo> inputs{port ("Midi Through", "14-0", "14"),
                                           port ("Zelvor USB MIDI", "20-0", "20"),
                                           port ("Zelvor USB MIDI", "28-0", "28"),
                                           port ("Zelvor Editor", "130-0", "130")};
    const juce::Array<MidiPortInfo> outputs{port ("Zelvor USB MIDI", "28-0", "28"),
                                            port ("Midi Through", "14-0", "14"),
                                            port ("Zelvor USB MIDI", "20-0", "20")};
    EXPECT_EQ (idsOf (pairUnitPorts (inputs, outputs)), juce::StringArray ({"20-0>20-0", "28-0>28-0"}));

    // Without devices, the very same name; Windows numbers the second device of one name.
    const juce::Array<MidiPortInfo> namedIn{port ("Zelvor USB MIDI", "i0", ""), port ("2- Zelvor USB MIDI", "i1", "")};
    const juce::Array<MidiPortInfo> namedOut{port ("2- Zelvor USB MIDI", "o0", ""), port ("Zelvor USB MIDI", "o1", "")};
    EXPECT_EQ (idsOf (pairUnitPorts (namedIn, namedOut)), juce::StringArray ({"i0>o1", "i1>o0"}));
    EXPECT_TRUE (pairUnitPorts (namedIn, {port ("Zelvor USB MIDI Out", "o0", "")}).empty());
}

TEST_F (PortDiscovery, OpensThePortListedNotWhateverTookItsPlace)
{
    const int first = service.addInputPort ("Zelvor");
    service.addOutputPort ("Zelvor", [] (const juce::MidiMessage&) {});
    const auto candidates = listUnitCandidates();
    ASSERT_EQ (candidates.size(), 1u);

    // Between the listing and the opening the unit goes and a look-alike takes its place.
    service.removePort (first);
    service.addInputPort ("Zelvor");
    std::unique_ptr<MidiInputPort> in;
    std::unique_ptr<BoundedOutput> out;
    EXPECT_FALSE (openUnitPorts (candidates.front(), in, out, &ignore));
    EXPECT_EQ (in, nullptr);
    EXPECT_NE (out, nullptr);
    closeUnitPorts (in, out);
    EXPECT_EQ (out, nullptr);
}

// A reopen waits for the unit to settle, whether or not it then finds one.
TEST_F (PortDiscovery, HeldOutputIsPresentButDoesNotOpenAndReopeningWaits)
{
    Pacing::setSpeed (100.0);
    {
        FirmwareManager noUnit;
        const auto before = Pacing::elapsedMilliseconds();
        EXPECT_FALSE (noUnit.reopenUnitPorts());
        EXPECT_GE (Pacing::elapsedMilliseconds() - before, 2000.0);
    }

    service.addInputPort ("Sorvanta Zelvor USB MIDI");
    const int output = service.addOutputPort ("Sorvanta Zelvor USB MIDI", [] (const juce::MidiMessage&) {});
    service.setHeld (output, true);
    EXPECT_TRUE (FirmwareManager::isUnitPresent());

    FirmwareManager link;
    EXPECT_NE (link.midiIn, nullptr);
    EXPECT_EQ (link.midiOut, nullptr);

    service.setHeld (output, false);
    const auto before = Pacing::elapsedMilliseconds();
    EXPECT_TRUE (link.reopenUnitPorts());
    EXPECT_GE (Pacing::elapsedMilliseconds() - before, 2000.0);
    EXPECT_NE (link.midiOut, nullptr);
}

// A unit may send the map reply in either of two forms; each is stored whole before it is
// announced. A 68-byte reply of neither form, even with its checksum right, is a refusal.
TEST_F (LinkHandler, MapReplyOfEitherFormIsStoredBeforeItIsAnnounced)
{
    auto altered = [] (const Sysex::FixedMessage& m, int offset, std::uint8_t value)
    {
        Bytes bytes (m.bytes, m.bytes + m.size);
        bytes[(size_t) offset] = value;
        bytes[bytes.size() - 2] = Sysex::xorChecksum (bytes.data(), (int) bytes.size());
        return bytes;
    };

    link.transferMode = FirmwareManager::modeQex;
    for (const auto* form : {&Sysex::mapReply, &Sysex::mapReplyVariant})
    {
        link.qexState = 8;
        receive (messageOf (*form));
        ASSERT_EQ (link.qexState.load(), 9);
        EXPECT_TRUE (std::equal (form->bytes, form->bytes + 68, link.replyBuffer.begin()));
    }

    // In either form, one byte of the fifth region changed (06 to 07).
    for (const auto& neither : {altered (Sysex::mapReply, 49, 0x07), altered (Sysex::mapReplyVariant, 50, 0x07)})
    {
        link.qexState = 8;
        receive (messageOf (neither));
        EXPECT_EQ (link.qexState.load(), FirmwareManager::qexRefused);
    }
}

TEST_F (LinkHandler, DspAcknowledgement)
{
    link.transferMode = FirmwareManager::modeDsp;

    link.dspAckState = 0; // during the replay every reply is ignored
    receive (messageOf (dspReply (0x02, 10)));
    EXPECT_EQ (link.dspAckState.load(), 0);

    for (auto [code, length, expected] :
         {std::tuple{0x01, 10, 0}, {0x01, 9, 0}, {0x01, 34, 0}, {0x01, 35, -2}, {0x02, 10, -2}, {0x03, 10, -2}})
    {
        link.dspAckState = 1;
        receive (messageOf (dspReply ((std::uint8_t) code, length)));
        EXPECT_EQ (link.dspAckState.load(), expected) << "code " << code << ", " << length << " bytes";
    }

    link.dspAckState = 1;
    receive (juce::MidiMessage::midiClock());
    EXPECT_EQ (link.dspAckState.load(), -2);
}

TEST_F (LinkHandler, RefusalsAreTracedTwice)
{
    link.transferMode = FirmwareManager::modeQex;
    link.qexState = 2;
    const int before = link.traceCount.load();
    receive (juce::MidiMessage::midiClock());
    EXPECT_EQ (link.traceCount.load() - before, 2);

    link.qexState = 12;
    receive (messageOf (Sysex::dataBlockAck)); // data-block acknowledgements are not traced
    EXPECT_EQ (link.traceCount.load() - before, 2);
}

TEST_F (LinkPolls, ReportOnceThenReset)
{
    link.loadBuiltInQexImage();
    link.transferMode = FirmwareManager::modeQex;
    link.qexState = FirmwareManager::qexRefused;
    EXPECT_EQ (link.pollQexResult(), -1);
    EXPECT_EQ (link.transferMode.load(), 0);
    EXPECT_EQ (link.qexState.load(), 0);
    EXPECT_FALSE (link.qexImageValid.load());
    EXPECT_EQ (link.pollQexResult(), 1);

    link.loadBuiltInDspImage();
    link.transferMode = FirmwareManager::modeDsp;
    link.dspAckState = FirmwareManager::dspAwaitAck; // timed out
    EXPECT_EQ (link.pollDspResult(), -1);
    EXPECT_EQ (link.dspAckState.load(), 0);
    EXPECT_FALSE (link.dspImageLoaded.load());
    EXPECT_EQ (link.pollDspResult(), 1);

    // The DSP poll closes the ports.
    service.addInputPort ("Zelvor");
    service.addOutputPort ("Zelvor", [] (const juce::MidiMessage&) {});
    FirmwareManager withPorts;
    ASSERT_NE (withPorts.midiIn, nullptr);
    EXPECT_EQ (withPorts.pollDspResult(), 1);
    EXPECT_EQ (withPorts.midiIn, nullptr);
    EXPECT_EQ (withPorts.midiOut, nullptr);
}

TEST_F (LinkPolls, StartsRefuseWithoutUnitOrImageAndChangeNothing)
{
    link.loadBuiltInQexImage();
    link.loadBuiltInDspImage();
    EXPECT_FALSE (link.startQexUpdate()); // no unit
    EXPECT_FALSE (link.startDspUpdate());
    EXPECT_EQ (link.qexState.load(), 0);
    EXPECT_EQ (link.transferMode.load(), 0);
}
