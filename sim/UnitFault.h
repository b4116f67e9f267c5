#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace zelvor
{
// A way the virtual unit can be made to misbehave, as the rig's --fault option and the demo's
// unit window name it: "no-data-ack:3" is the scenario and its count.
struct UnitFault
{
    enum class Kind
    {
        none,
        noIdentityReply,
        noLoaderAck,
        noLoaderIdentityReply,
        noMapReply,
        noBeginWriteAck,
        wrongIdentityReply,
        wrongMapReply,
        variantMapReply,
        clockDuringWait,
        noDataAck,
        dropDataAckOnce,
        lateDataAck,
        refuseDataBlock,
        dspEndErr,
        dspEndChecksumFailed,
        noDspAck,
        unplugAfter,
        powerCutAfter,
        blinkAfter,
        portsHeld,
        outputHeld,
        slowLoaderRestart,
        loaderNeverBack
    };

    struct Scenario
    {
        const char* name;
        Kind kind;
        int defaultCount; // 0 when the scenario takes no count
        const char* description;
    };

    // Each scenario once, with its name and its help text: a new one is an entry here and its
    // behaviour in the virtual unit.
    static constexpr Scenario scenarios[] = {
        {"none",
         Kind::none,
         0,
         "Behaves as a healthy unit (loader commands only in its loader; data blocks only after a begin-write and "
         "inside its map)."},
        {"no-identity-reply", Kind::noIdentityReply, 0, "Ignores the first identity request."},
        {"no-loader-ack", Kind::noLoaderAck, 0, "Ignores the enter-loader request."},
        {"no-loader-identity-reply",
         Kind::noLoaderIdentityReply,
         0,
         "After restarting into its loader, ignores identity requests."},
        {"no-map-reply", Kind::noMapReply, 0, "Ignores the map request."},
        {"no-begin-write-ack",
         Kind::noBeginWriteAck,
         0,
         "Ignores the begin-write request: no erase, no acknowledgement."},
        {"wrong-identity-reply", Kind::wrongIdentityReply, 0, "Answers the identity request with mode byte 02."},
        {"wrong-map-reply", Kind::wrongMapReply, 0, "Answers the map request with the begin-write acknowledgement."},
        {"variant-map-reply",
         Kind::variantMapReply,
         0,
         "Answers the map request with the other form of the map reply, which stands for the same six regions."},
        {"clock-during-wait", Kind::clockDuringWait, 0, "Sends one MIDI clock byte just before the map reply."},
        {"no-data-ack",
         Kind::noDataAck,
         1,
         "Neither writes nor acknowledges the N-th distinct data block (default 1)."},
        {"drop-data-ack-once",
         Kind::dropDataAckOnce,
         1,
         "Leaves the N-th data-block message unanswered once; the retry is acknowledged (default 1)."},
        {"late-data-ack",
         Kind::lateDataAck,
         1,
         "Answers the N-th data-block message only when its retry arrives, followed by the retry's own answer, "
         "and misses the message after the retry (default 1)."},
        {"refuse-data-block",
         Kind::refuseDataBlock,
         1,
         "Answers every try of the N-th distinct data block with the acknowledgement of 7B (default 1)."},
        {"dsp-end-err", Kind::dspEndErr, 0, "Answers the DSP end message with ERR."},
        {"dsp-end-checksum-failed", Kind::dspEndChecksumFailed, 0, "Answers the DSP end message with CHECKSUM FAILED."},
        {"no-dsp-ack", Kind::noDspAck, 0, "Never answers the DSP end message."},
        {"unplug-after",
         Kind::unplugAfter,
         100,
         "Unplugs both ports right after the N-th message from the host (default 100)."},
        {"power-cut-after",
         Kind::powerCutAfter,
         100,
         "Loses power right after the N-th message from the host, which is lost: its ports vanish at once, and it "
         "comes back after its restart time in the mode its flash dictates (default 100)."},
        {"blink-after",
         Kind::blinkAfter,
         100,
         "Right after the N-th message from the host its ports vanish from the port lists for a moment (1100 ms), "
         "while it keeps running and its open ports keep working (default 100)."},
        {"ports-held", Kind::portsHeld, 0, "Both ports are listed but held by another program."},
        {"output-held", Kind::outputHeld, 0, "The output port is listed but held by another program."},
        {"slow-loader-restart", Kind::slowLoaderRestart, 0, "The restart into the loader takes 8000 ms."},
        {"loader-never-back", Kind::loaderNeverBack, 0, "Goes away to restart into its loader and never comes back."},
    };

    Kind kind = Kind::none;
    int count = 0; // the N of the scenarios that take one

    // The fault a text names, its count the scenario's default when none is given; nothing
    // when the text names no scenario, or gives a count to one that takes none.
    static std::optional<UnitFault> parse (const juce::String& nameAndCount);
    static juce::StringArray names(); // every scenario's name, without counts
    static juce::String describe (const juce::String& name);
};
} // namespace zelvor
