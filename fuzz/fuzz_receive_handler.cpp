// Feeds arbitrary messages to FirmwareManager::handleIncomingMidiMessage in every state and checks
// that only the awaited reply moves a state word on, that anything else refuses, and that a link
// that waits for nothing ignores everything.

#include "fuzz/FuzzSupport.h"
#include "link/SysexCodec.h"

#include <cstring>
#include <iostream>

using namespace zelvor;
using namespace zelvor::fuzz;

namespace
{
using FM = FirmwareManager;

std::vector<Bytes> makeSeeds()
{
    std::vector<Bytes> seeds;
    for (const auto* m : {&Sysex::identityReplyRunning,
                          &Sysex::identityReplyLoader,
                          &Sysex::enterLoaderAck,
                          &Sysex::mapReply,
                          &Sysex::mapReplyVariant,
                          &Sysex::beginWriteAck,
                          &Sysex::dataBlockAck})
        seeds.emplace_back (m->bytes, m->bytes + m->size);
    seeds.push_back ({0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, 0x01, 0xF7});
    seeds.push_back ({0xF0, 0x00, 0x00, 0x10, 0x00, 0x60, 0x01, 0x02, 0x00, 0xF7});
    seeds.push_back ({0x90, 0x40, 0x7F});
    return seeds;
}

bool equalsFromOffsetOne (const Bytes& message, const Sysex::FixedMessage& fixed)
{
    return (int) message.size() == fixed.size &&
           std::memcmp (message.data() + 1, fixed.bytes + 1, message.size() - 1) == 0;
}

bool isDspAck (const Bytes& m)
{
    const std::uint8_t header[] = {0x00, 0x00, 0x10, 0x00, 0x60, 0x01, 0x01};
    return m.size() >= 9 && m.size() <= 34 && std::memcmp (m.data() + 1, header, sizeof (header)) == 0 &&
           m.back() == 0xF7;
}

// The state the waiting procedure moves to on this message: its successor, or a refusal.
int qexOutcome (int waiting, const Bytes& m)
{
    auto on = [&m] (const Sysex::FixedMessage& reply, int next)
    { return equalsFromOffsetOne (m, reply) ? next : (int) FM::qexRefused; };

    switch (waiting)
    {
        case FM::qexAwaitIdentity:
            return equalsFromOffsetOne (m, Sysex::identityReplyRunning)
                       ? FM::qexIdentityRunning
                       : on (Sysex::identityReplyLoader, FM::qexIdentityLoader);
        case FM::qexAwaitLoaderAck:
            return on (Sysex::enterLoaderAck, FM::qexLoaderAcknowledged);
        case FM::qexAwaitLoaderIdentity:
            return on (Sysex::identityReplyLoader, FM::qexIdentityLoader);
        case FM::qexAwaitMap:
            // Either form of the map reply is taken.
            return equalsFromOffsetOne (m, Sysex::mapReplyVariant) ? FM::qexMapReceived
                                                                   : on (Sysex::mapReply, FM::qexMapReceived);
        case FM::qexAwaitBeginWriteAck:
            return on (Sysex::beginWriteAck, FM::qexBeginWriteAcknowledged);
        case FM::qexAwaitDataAck:
            return on (Sysex::dataBlockAck, FM::qexDataAcknowledged);
        case FM::qexDataAcknowledged:
            // Between chunks a data acknowledgement answers nothing sent: a late one.
            return equalsFromOffsetOne (m, Sysex::dataBlockAck) ? (int) FM::qexRefused : waiting;
        default:
            return waiting; // not waiting: nothing moves
    }
}

void feed (FM& link, int mode, int qex, int dsp, const Bytes& m)
{
    link.transferMode = mode;
    link.qexState = qex;
    link.dspAckState = dsp;
    const auto replyBefore = link.replyBuffer;
    const int tracesBefore = link.traceCount;

    link.handleIncomingMidiMessage (nullptr, juce::MidiMessage (m.data(), (int) m.size(), 0.0));

    int expectedQex = qex, expectedDsp = dsp, traces = 0;
    if (mode == FM::modeQex)
    {
        expectedQex = qexOutcome (qex, m);
        // A refusal writes two lines, a recognised reply one, the data-block acknowledgement none.
        if (expectedQex != qex && expectedQex == FM::qexRefused)
            traces = 2;
        else if (expectedQex != qex && expectedQex != FM::qexDataAcknowledged)
            traces = 1;
    }
    else if (mode == FM::modeDsp && dsp == FM::dspAwaitAck)
    {
        // One line on arrival, then one for the ACK or two for the refusal.
        expectedDsp = isDspAck (m) ? FM::dspIdle : FM::dspRefused;
        traces = isDspAck (m) ? 2 : 3;
    }

    require (link.transferMode == mode, "the handler never changes the transfer mode");
    require (link.qexState == expectedQex, "qexState moves only to the successor of the awaited reply, or to -2");
    require (link.dspAckState == expectedDsp, "dspAckState moves only on an ACK, or to -2");
    require (link.traceCount - tracesBefore == traces, "DBG lines as documented");

    auto reply = replyBefore;
    if (mode == FM::modeQex && qex == FM::qexAwaitMap && expectedQex == FM::qexMapReceived)
        std::copy (m.begin(), m.end(), reply.begin());
    require (link.replyBuffer == reply, "replyBuffer takes the map reply and nothing else");
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    writeSeedsIfAsked (makeSeeds);
    // The handler's "DBG" trace goes to std::cerr; thousands of lines a second would drown the
    // fuzzer's own output (which it writes through stdio, not std::cerr).
    std::cerr.rdbuf (nullptr);
    fuzzedLink();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;

    // The whole input is one message; when it holds several F7s, each piece up to an F7 is one too.
    std::vector<Bytes> messages{Bytes (data, data + size)};
    for (size_t start = 0, i = 0; i < size; ++i)
        if ((data[i] == 0xF7 && i + 1 < size) || (i + 1 == size && start > 0))
        {
            messages.emplace_back (data + start, data + i + 1);
            start = i + 1;
        }

    auto& link = fuzzedLink();
    const int awaited[] = {FM::qexAwaitIdentity,
                           FM::qexAwaitLoaderAck,
                           FM::qexAwaitLoaderIdentity,
                           FM::qexAwaitMap,
                           FM::qexAwaitBeginWriteAck,
                           FM::qexAwaitDataAck};
    const int notWaiting[] = {FM::qexIdle,
                              FM::qexIdentityRunning,
                              FM::qexMapReceived,
                              FM::qexDataAcknowledged,
                              FM::qexIncomplete,
                              FM::qexRefused};

    for (const auto& m : messages)
    {
        for (int state : awaited)
            feed (link, FM::modeQex, state, FM::dspIdle, m);
        feed (link, FM::modeQex, notWaiting[data[0] % 6], FM::dspIdle, m);
        feed (link, FM::modeDsp, awaited[data[0] % 6], FM::dspAwaitAck, m);
        feed (link, FM::modeDsp, FM::qexIdle, data[0] % 2 == 0 ? FM::dspIdle : FM::dspRefused, m);
        feed (link, FM::modeIdle, awaited[data[0] % 6], FM::dspAwaitAck, m);
    }
    return 0;
}
