#include "TestSupport.h"

#include "link/DspMessageReader.h"
#include "link/SysexCodec.h"
#include "sim/VirtualUnit.h"
#include "update/UpdatePhase.h"

#include <BinaryData.h>

#include <atomic>
#include <future>
#include <numeric>
#include <thread>

using namespace zelvor;
using namespace zelvor::test;

namespace
{
constexpr double testSpeed = 200.0;
using Cause = RunFailure::Cause;
using Step = RunFailure::Step;

Bytes builtInDspImage()
{
    const auto* data = reinterpret_cast<const std::uint8_t*> (BinaryData::dspImage_syx);
    return {data, data + BinaryData::dspImage_syxSize};
}

class Transfer : public WithVirtualMidi
{
protected:
    Transfer()
    {
        Pacing::setSpeed (testSpeed);
    }

    void makeUnit (VirtualUnit::Options options = {})
    {
        unit = std::make_unique<VirtualUnit> (service, options);
    }

    void makeUnitInLoader()
    {
        VirtualUnit::Options options;
        options.startInLoader = true;
        makeUnit (options);
    }

    // The link is made after the unit, as the panel makes it once the unit is seen.
    FirmwareManager& makeLink()
    {
        link = std::make_unique<FirmwareManager>();
        return *link;
    }

    int run (FirmwareKind kind, std::function<bool()> shouldCancel = nullptr)
    {
        return runUpdatePhase (
            *link, kind, [this] (double p) { maxProgress = std::max (maxProgress, p); }, shouldCancel);
    }

    int runQex (const Bytes& image)
    {
        TempImageFile file (image);
        if (link == nullptr)
            makeLink();
        if (! link->loadQexImageFile (file.file()))
            return 0;
        return run (FirmwareKind::qex);
    }

    int runDsp (const Bytes& image)
    {
        TempImageFile file (image, ".syx");
        if (link == nullptr)
            makeLink();
        if (! link->loadDspImageFile (file.file()))
            return 0;
        return run (FirmwareKind::dsp);
    }

    // Every block of the built-in file lies in the unit's flash where the file puts it: read
    // here from the file's own headers (a model word, then each block's address and length,
    // big-endian), not from the link's parse of it.
    void expectFlashHoldsBuiltInImage()
    {
        const auto* raw = reinterpret_cast<const std::uint8_t*> (BinaryData::qexImage_bin);
        const auto size = (size_t) BinaryData::qexImage_binSize;
        auto word = [raw] (size_t at)
        { return std::uint32_t (raw[at] << 24 | raw[at + 1] << 16 | raw[at + 2] << 8 | raw[at + 3]); };
        const auto flash = unit->flash();
        int blocks = 0;
        for (size_t at = 4; at + 8 <= size; ++blocks)
        {
            const auto address = word (at), length = word (at + 4);
            at += 8;
            ASSERT_LE (at + length, size);
            ASSERT_LE ((size_t) address + length, flash.size());
            EXPECT_TRUE (std::equal (raw + at, raw + at + length, flash.begin() + address)) << "block at " << address;
            at += length;
        }
        EXPECT_GT (blocks, 1);
    }

    void expectFailure (RunFailure::Cause cause, RunFailure::Step step)
    {
        const auto failure = link->lastFailure();
        EXPECT_EQ ((int) failure.cause, (int) cause);
        EXPECT_EQ ((int) failure.step, (int) step);
    }

    void expectPortsClosedAndIdle()
    {
        EXPECT_EQ (link->midiIn, nullptr);
        EXPECT_EQ (link->midiOut, nullptr);
        EXPECT_EQ (link->transferMode.load(), 0);
        EXPECT_EQ (link->qexState.load(), 0);
        EXPECT_EQ (link->dspAckState.load(), 0);
    }

    std::unique_ptr<VirtualUnit> unit;
    std::unique_ptr<FirmwareManager> link;
    double maxProgress = 0.0;
};

struct FaultCase
{
    const char* fault;
    bool beginWriteExpected;
    RunFailure::Cause cause; // why the link says it failed, and where
    RunFailure::Step step;
};

class QexHandshakeFault : public Transfer, public ::testing::WithParamInterface<FaultCase>
{
};

class DspFault : public Transfer, public ::testing::WithParamInterface<FaultCase>
{
};

class LongDspMessage : public Transfer, public ::testing::WithParamInterface<bool>
{
};

struct CancelCase
{
    const char* name;
    bool startInLoader;
    const Sysex::FixedMessage* reply; // the cancel lands as this reply is delivered

    friend void PrintTo (const CancelCase& c, std::ostream* os)
    {
        *os << c.name;
    }
};

class CancelWithReply : public Transfer, public ::testing::WithParamInterface<CancelCase>
{
};
} // namespace

TEST_F (Transfer, QexFromARunningUnitWritesTheWholeImage)
{
    // As on a real system another device is listed first, and the unit comes back from its
    // restart under its loader's names.
    std::atomic<int> sentElsewhere{0};
    service.addInputPort ("Midi Through Port-0");
    service.addOutputPort ("Midi Through Port-0", [&sentElsewhere] (const juce::MidiMessage&) { ++sentElsewhere; });
    makeUnit();
    makeLink().loadBuiltInQexImage();

    EXPECT_EQ (run (FirmwareKind::qex), phaseSucceeded);
    EXPECT_EQ (unit->countReceived (0x71), 1);   // switched into its loader once
    EXPECT_EQ (unit->dataBlocksReceived(), 831); // erased chunks after a block's first are skipped
    expectFlashHoldsBuiltInImage();
    EXPECT_GE (maxProgress, 0.9);
    EXPECT_LE (maxProgress, 0.99);
    EXPECT_EQ (sentElsewhere.load(), 0);
    expectPortsClosedAndIdle();
    EXPECT_FALSE (link->qexImageValid.load());
}

TEST_F (Transfer, QexFromAUnitInItsLoaderSkipsTheRestart)
{
    makeUnitInLoader();
    makeLink().loadBuiltInQexImage();

    EXPECT_EQ (run (FirmwareKind::qex), phaseSucceeded);
    EXPECT_EQ (unit->countReceived (0x71), 0);
    EXPECT_EQ (unit->countReceived (0x01), 1); // one identity request
    expectFlashHoldsBuiltInImage();
}

TEST_F (Transfer, QexToAUnitSendingTheOtherFormOfTheMapWritesTheWholeImage)
{
    makeUnit();
    ASSERT_TRUE (unit->setFault ("variant-map-reply"));
    makeLink().loadBuiltInQexImage();

    EXPECT_EQ (run (FirmwareKind::qex), phaseSucceeded);
    expectFlashHoldsBuiltInImage();
    expectPortsClosedAndIdle();
}

TEST_F (Transfer, DspReplaysTheImageExactly)
{
    makeUnit();
    makeLink().loadBuiltInDspImage();

    EXPECT_EQ (run (FirmwareKind::dsp), phaseSucceeded);
    EXPECT_EQ (unit->dspReceived(), builtInDspImage());
    EXPECT_TRUE (unit->dspEndAcknowledged());
    EXPECT_LT (maxProgress, 0.97); // the replay stays below ~0.91, the ack wait shows 0.96
    expectPortsClosedAndIdle();
    EXPECT_FALSE (link->dspImageLoaded.load());
}

// A unit pulled out mid-replay and plugged straight back in has only part of the image: it
// must never be told that the image is complete.
TEST_F (Transfer, DspReplayCutShortByAnUnplugNeverSendsTheEndMessage)
{
    Pacing::setSpeed (20.0);
    makeUnit();
    makeLink().loadBuiltInDspImage();
    std::atomic<bool> endSent{false};
    service.setTrafficTap (
        [&endSent] (bool toDevice, const std::uint8_t* data, int size)
        {
            if (toDevice && size == Sysex::dspEndMessage.size &&
                std::equal (data, data + size, Sysex::dspEndMessage.bytes))
                endSent = true;
        });
    std::thread user (
        [this]
        {
            for (int i = 0; i < 10000 && unit->dspReceived().size() < 2000; ++i)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            unit->unplug();
            std::this_thread::sleep_for (std::chrono::milliseconds (20)); // 400 ms of the unit's time
            unit->plugIn();
        });

    EXPECT_EQ (run (FirmwareKind::dsp), phaseFailed);
    user.join();
    service.setTrafficTap (nullptr);
    EXPECT_FALSE (endSent.load());
    EXPECT_LT (unit->dspReceived().size(), builtInDspImage().size());
}

// A unit that lost its power as the replay began is listed again under the same names by the
// time the image goes out, but the ports opened before are dead: the replay stops at once rather
// than send the whole image into them for minutes.
TEST_F (Transfer, DspReplayToAUnitThatRestartedMeanwhileStopsAtOnce)
{
    makeUnit();
    unit->setFault ("power-cut-after:1"); // the start message is lost
    makeLink().loadBuiltInDspImage();
    std::atomic<int> sent{0};
    service.setTrafficTap ([&sent] (bool toDevice, const std::uint8_t*, int) { sent += toDevice ? 1 : 0; });
    EXPECT_EQ (run (FirmwareKind::dsp), phaseFailed);
    service.setTrafficTap (nullptr);
    EXPECT_LT (sent.load(), 3);
    EXPECT_TRUE (unit->dspReceived().empty());
}

// Pieces of at most 180 bytes, except where the MIDI layer takes whole messages only: there a
// message sent in pieces would never reach the unit.
TEST_P (LongDspMessage, ReachesTheUnitWhole)
{
    const bool wholeOnly = GetParam();
    service.setWholeMessagesOnly (wholeOnly);
    makeUnit();
    std::vector<int> sendSizes;
    service.setTrafficTap (
        [&sendSizes] (bool toDevice, const std::uint8_t* data, int size)
        {
            // Everything but the 18-byte start and end messages.
            if (toDevice && ! (data[0] == 0xF0 && size == 18))
                sendSizes.push_back (size);
        });

    Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x7F, 0x58};
    message.resize (199, 0x11);
    message.push_back (0xF7);
    Bytes image{0x0A}; // stray bytes between messages are skipped
    image.insert (image.end(), message.begin(), message.end());
    image.push_back (0x0D);

    EXPECT_EQ (runDsp (image), phaseSucceeded);
    service.setTrafficTap (nullptr);
    EXPECT_EQ (sendSizes, wholeOnly ? std::vector<int> (1, 200) : std::vector<int> ({180, 20}));
    EXPECT_EQ (unit->dspReceived(), message);
}

// A user's DSP file may hold messages of up to 256 bytes. Sent in pieces through a MIDI layer
// that loses a piece of 1 to 3 bytes (JUCE's Windows output makes it a short message), every
// message from 161 to 256 bytes still arrives whole: no piece is that short, none is longer
// than 180 bytes, and each message takes as many pieces (and pauses) as before.
TEST_F (Transfer, DspMessagesUpTo256BytesArriveWholeWhereShortPiecesAreLost)
{
    service.setShortSendsLost (true);
    makeUnit();
    Bytes image;
    for (int size = 161; size <= 256; ++size)
    {
        Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x7F, 0x58};
        message.resize ((size_t) size - 1, (std::uint8_t) (size & 0x7F));
        message.push_back (0xF7);
        image.insert (image.end(), message.begin(), message.end());

        const auto pieces = dspPieceSizes (size, Protocol::dspPieceSize);
        EXPECT_EQ (pieces.size(), size > 180 ? 2u : 1u) << size;
        EXPECT_EQ (std::accumulate (pieces.begin(), pieces.end(), 0), size);
        for (const int piece : pieces)
            EXPECT_TRUE (piece >= 4 && piece <= Protocol::dspPieceSize) << size << ": a piece of " << piece;
    }

    EXPECT_EQ (runDsp (image), phaseSucceeded);
    EXPECT_EQ (unit->dspReceived(), image);
}

INSTANTIATE_TEST_SUITE_P (Transfer,
                          LongDspMessage,
                          ::testing::Bool(),
                          [] (const auto& paramInfo)
                          { return std::string (paramInfo.param ? "WholeMessagesOnly" : "Pieces"); });

TEST_P (QexHandshakeFault, EndsInFailureWithThePortsClosed)
{
    makeUnit();
    ASSERT_TRUE (unit->setFault (GetParam().fault));
    makeLink().loadBuiltInQexImage();

    EXPECT_EQ (run (FirmwareKind::qex), phaseFailed);
    EXPECT_EQ (unit->beginWriteReceived(), GetParam().beginWriteExpected);
    EXPECT_EQ (unit->dataBlocksReceived(), 0);
    expectFailure (GetParam().cause, GetParam().step);
    expectPortsClosedAndIdle();
}

INSTANTIATE_TEST_SUITE_P (
    Transfer,
    QexHandshakeFault,
    ::testing::Values (FaultCase{"no-identity-reply", false, Cause::noAnswer, Step::identity},
                       FaultCase{"wrong-identity-reply", false, Cause::unexpected, Step::identity},
                       FaultCase{"no-loader-ack", false, Cause::noAnswer, Step::loaderSwitch},
                       FaultCase{"slow-loader-restart", false, Cause::loaderNotBack, Step::loaderIdentity},
                       FaultCase{"loader-never-back", false, Cause::loaderNotBack, Step::loaderIdentity},
                       FaultCase{"no-loader-identity-reply", false, Cause::noAnswer, Step::loaderIdentity},
                       FaultCase{"no-map-reply", false, Cause::noAnswer, Step::map},
                       FaultCase{"wrong-map-reply", false, Cause::unexpected, Step::map},
                       FaultCase{"clock-during-wait", false, Cause::unexpected, Step::map},
                       FaultCase{"no-begin-write-ack", true, Cause::noAnswer, Step::beginWrite}),
    [] (const auto& paramInfo)
    { return juce::String (paramInfo.param.fault).replaceCharacter ('-', '_').toStdString(); });

// Something other than the answer awaited comes in first (another step's answer, a clock tick, a
// note; at the loader's identity, the running firmware's answer). In the handshake the step fails
// as an unexpected answer and nothing more is written; at a chunk, the chunk is sent again and the
// update goes through. While nothing is awaited, answers move nothing.
TEST_F (Transfer, OnlyTheAnswerAwaitedMovesAQexUpdateOn)
{
    using Kind = Sysex::MessageKind;
    auto message = [] (const Sysex::FixedMessage& m) { return juce::MidiMessage (m.bytes, m.size, 0.0); };
    struct Case
    {
        Kind request;
        int occurrence; // the request's n-th message of its kind
        Step step;      // none: the update succeeds
        juce::MidiMessage stray;
        Cause cause = Cause::unexpected;
    };
    const Case cases[] = {
        {Kind::identityAsked, 1, Step::identity, message (Sysex::beginWriteAck)},
        // The unit restarts into its loader all the same, and the link sees it gone.
        {Kind::loaderAsked, 1, Step::loaderSwitch, juce::MidiMessage::midiClock(), Cause::unitGone},
        {Kind::identityAsked, 2, Step::loaderIdentity, message (Sysex::identityReplyRunning)},
        {Kind::mapAsked, 1, Step::map, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100)},
        {Kind::beginWriteAsked, 1, Step::beginWrite, message (Sysex::dataBlockAck)},
        {Kind::dataBlock, 3, Step::none, message (Sysex::beginWriteAck)},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (Sysex::kindName (c.request));
        unit = nullptr;
        link = nullptr;
        makeUnit();
        makeLink().loadBuiltInQexImage();
        // While nothing is awaited, answers move nothing: the run below starts from its first step.
        link->handleIncomingMidiMessage (nullptr, message (Sysex::identityReplyRunning));
        link->handleIncomingMidiMessage (nullptr, message (Sysex::dataBlockAck));
        std::atomic<int> seen{0};
        // Comes in as the request goes out, so before the unit can answer it.
        service.setTrafficTap (
            [&] (bool toDevice, const std::uint8_t* bytes, int size)
            {
                if (toDevice && Sysex::kindOf (bytes, size) == c.request && ++seen == c.occurrence)
                    link->handleIncomingMidiMessage (nullptr, c.stray);
            });
        const int result = run (FirmwareKind::qex);
        service.setTrafficTap (nullptr);

        if (c.step == Step::none)
        {
            EXPECT_EQ (result, phaseSucceeded);
            EXPECT_EQ (unit->dataBlocksReceived(), 831 + 1);
            expectFlashHoldsBuiltInImage();
            continue;
        }
        EXPECT_EQ (result, phaseFailed);
        expectFailure (c.cause, c.step);
        EXPECT_EQ (unit->beginWriteReceived(), c.step == Step::beginWrite);
        EXPECT_EQ (unit->dataBlocksReceived(), 0);
    }
}

TEST_F (Transfer, UnansweredChunkAbandonsItsBlockAndFailsTheRun)
{
    makeUnitInLoader();
    ASSERT_TRUE (unit->setFault ("no-data-ack:2"));
    const auto image =
        QexImageBuilder().block (0x00000, Bytes (0x10000, 0x21)).block (0x10000, Bytes (0x10000, 0x42)).bytes;

    EXPECT_EQ (runQex (image), phaseFailed);
    // Three tries of the second chunk, then the next block is still written.
    EXPECT_EQ (unit->dataBlocksReceived(), 1 + 3 + 256);
    EXPECT_EQ (unit->flash()[0x100], 0xFF);
    EXPECT_EQ (unit->flash()[0x10000], 0x42);
    // Told where it stopped answering: after the first of 512 data-block messages.
    expectFailure (Cause::noAnswer, Step::blocks);
    EXPECT_EQ (link->lastFailure().done, 1);
    EXPECT_EQ (link->lastFailure().total, 512);
    expectPortsClosedAndIdle();
}

TEST_F (Transfer, ChunkAnsweredOnItsRetrySucceeds)
{
    makeUnitInLoader();
    ASSERT_TRUE (unit->setFault ("drop-data-ack-once:2"));
    const auto image = QexImageBuilder().block (0x20000, Bytes (0x10000, 0x37)).bytes;

    EXPECT_EQ (runQex (image), phaseSucceeded);
    EXPECT_EQ (unit->dataBlocksReceived(), 257);
    EXPECT_EQ (unit->flash()[0x2FFFF], 0x37);
}

TEST_F (Transfer, LateAcknowledgementIsNeverCreditedToTheNextChunk)
{
    // The second chunk's first try is answered only when its retry arrives, the retry 300 ms
    // later, and the third chunk is lost: credited the retry's answer, it would count as written.
    // Slow enough that the link's quiet second after a retry is 50 real ms, far more than a busy
    // machine's delivery takes (an answer later still than that could not be told apart).
    Pacing::setSpeed (20.0);
    VirtualUnit::Options options;
    options.startInLoader = true;
    options.lateRetryAckMs = 300.0;
    makeUnit (options);
    ASSERT_TRUE (unit->setFault ("late-data-ack:2"));
    const auto image = QexImageBuilder().block (0x20000, Bytes (0x10000, 0x37)).bytes;

    EXPECT_EQ (runQex (image), phaseFailed);
    EXPECT_EQ (unit->flash()[0x20200], 0xFF);
    expectFailure (Cause::lateAnswer, Step::blocks);
    expectPortsClosedAndIdle();
}

TEST_F (Transfer, RefusedLastTryStopsEveryLaterBlock)
{
    makeUnitInLoader();
    ASSERT_TRUE (unit->setFault ("refuse-data-block:1"));
    const auto image =
        QexImageBuilder().block (0x00000, Bytes (0x10000, 0x01)).block (0x10000, Bytes (0x10000, 0x02)).bytes;

    EXPECT_EQ (runQex (image), phaseFailed);
    EXPECT_EQ (unit->dataBlocksReceived(), 3);
    EXPECT_EQ (unit->flash()[0x10000], 0xFF);
    expectFailure (Cause::unexpected, Step::blocks);
}

// The loaders refuse these images; handed to the link directly, they are still refused before
// the first message, so the unit is never sent into its loader or told to expect a DSP image.
TEST_F (Transfer, ImagesThatCannotBeWrittenAreRefusedBeforeTheFirstMessage)
{
    makeUnit();
    QexImageBuilder many;
    for (std::uint32_t i = 0; i < 17; ++i)
        many.block (0x60000 + i * 0x1000, Bytes (0x1000, 0x01));
    auto truncated = QexImageBuilder().block (0x00000, Bytes (0x10000, 0x01)).bytes;
    truncated.pop_back();

    const Bytes qexImages[] = {
        QexImageBuilder().block (0x10000, Bytes (0x8000, 0x01)).bytes,  // shorter than its region
        QexImageBuilder().block (0x40000, Bytes (0x10000, 0x01)).bytes, // in a hole of the map
        QexImageBuilder().block (0xE0000, Bytes (0x10001, 0x01)).bytes, // past the last region
        QexImageBuilder().block (0x00000, Bytes (0x10000, 0x01)).block (0x00000, Bytes (0x10000, 0x02)).bytes,
        QexImageBuilder().bytes,
        many.bytes,
        truncated,
    };
    const Bytes dspImages[] = {
        {},
        {0x0D, 0x0A},
        {0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x00, 0x57},
        {0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x90, 0x57, 0x01, 0xF7},
    };

    makeLink();
    for (const auto& image : qexImages)
    {
        EXPECT_FALSE (link->selectQexImage (QexImage::fromBytes (image.data(), image.size())));
        EXPECT_EQ (run (FirmwareKind::qex), phaseFailed);
    }
    for (const auto& image : dspImages)
    {
        EXPECT_FALSE (link->selectDspImage (DspImage::fromBytes (image.data(), image.size())));
        EXPECT_EQ (run (FirmwareKind::dsp), phaseFailed);
    }
    EXPECT_EQ (unit->messagesReceived(), 0);
}

// Ports opened before the unit went away are no unit: neither start sends or changes anything.
TEST_F (Transfer, StartsRefuseOnceTheUnitHasGoneWithItsPortsStillOpen)
{
    makeUnitInLoader();
    makeLink().loadBuiltInQexImage();
    ASSERT_TRUE (link->loadBuiltInDspImage());
    ASSERT_NE (link->midiIn, nullptr);
    unit->unplug();

    EXPECT_FALSE (link->startQexUpdate());
    EXPECT_FALSE (link->startDspUpdate());
    EXPECT_EQ (link->transferMode.load(), 0);
    EXPECT_EQ (link->qexState.load(), 0);
    EXPECT_EQ (link->dspAckState.load(), 0);
    EXPECT_EQ (unit->messagesReceived(), 0);
}

TEST_F (Transfer, BlockMaySpanRegionsThatFollowWithoutAGap)
{
    makeUnitInLoader();
    Bytes data (0x20000, 0xFF);
    data[0x1FFFF] = 0x5A; // last chunk, in the second region
    const auto image = QexImageBuilder().block (0x00000, data).bytes;

    EXPECT_EQ (runQex (image), phaseSucceeded);
    EXPECT_EQ (unit->dataBlocksReceived(), 2);
    EXPECT_EQ (unit->flash()[0x1FFFF], 0x5A);
}

TEST_P (DspFault, EndsInFailure)
{
    makeUnit();
    ASSERT_TRUE (unit->setFault (GetParam().fault));
    makeLink().loadBuiltInDspImage();

    EXPECT_EQ (run (FirmwareKind::dsp), phaseFailed);
    expectFailure (GetParam().cause, GetParam().step);
    expectPortsClosedAndIdle();
}

INSTANTIATE_TEST_SUITE_P (Transfer,
                          DspFault,
                          ::testing::Values (FaultCase{"dsp-end-err", false, Cause::dspError, Step::dspEnd},
                                             FaultCase{
                                                 "dsp-end-checksum-failed", false, Cause::dspChecksum, Step::dspEnd},
                                             FaultCase{"no-dsp-ack", false, Cause::noAnswer, Step::dspEnd},
                                             FaultCase{"unplug-after:500", false, Cause::unitGone, Step::dspImage}),
                          [] (const auto& paramInfo) {
                              return juce::String (paramInfo.param.fault).replaceCharacters ("-:", "__").toStdString();
                          });

TEST_F (Transfer, DspCheckByteErrorIsReportedByTheUnit)
{
    makeUnit();
    Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x00, 0x56, 0x01, 0xF7}; // check byte off by one
    EXPECT_EQ (runDsp (message), phaseFailed);
}

TEST_F (Transfer, UnitHeldByAnotherProgramIsRefused)
{
    makeUnit();
    ASSERT_TRUE (unit->setFault ("ports-held"));
    makeLink().loadBuiltInQexImage();
    link->loadBuiltInDspImage();
    EXPECT_TRUE (FirmwareManager::isUnitPresent());
    EXPECT_EQ (link->midiIn, nullptr);

    EXPECT_EQ (run (FirmwareKind::dsp), phaseFailed);
    EXPECT_EQ (run (FirmwareKind::qex), phaseFailed);
    EXPECT_EQ (unit->messagesReceived(), 0);
}

TEST_F (Transfer, CancelDuringTheDspReplayStopsSending)
{
    makeUnit();
    makeLink().loadBuiltInDspImage();
    std::atomic<int> polls{0};

    EXPECT_EQ (run (FirmwareKind::dsp, [&polls] { return ++polls > 20; }), phaseCancelled);
    expectFailure (Cause::cancelled, Step::dspImage);
    const auto received = unit->messagesReceived();
    EXPECT_GT (received, 1);
    EXPECT_LT (unit->dspReceived().size(), builtInDspImage().size());
    EXPECT_FALSE (unit->dspEndAcknowledged());

    Pacing::sleep (2000);
    EXPECT_EQ (unit->messagesReceived(), received);
    expectPortsClosedAndIdle();
}

TEST_F (Transfer, CancelDuringTheQexBlocksStopsSending)
{
    makeUnitInLoader();
    makeLink().loadBuiltInQexImage();

    // Once blocks are going out, however long the handshake took on a loaded machine.
    EXPECT_EQ (run (FirmwareKind::qex, [this] { return unit->dataBlocksReceived() >= 5; }), phaseCancelled);
    expectFailure (Cause::cancelled, Step::blocks);
    const auto sent = unit->dataBlocksReceived();
    EXPECT_GT (sent, 0);
    EXPECT_LT (sent, 831);

    Pacing::sleep (2000);
    EXPECT_EQ (unit->dataBlocksReceived(), sent);
    expectPortsClosedAndIdle();
}

// Runs a phase on a thread of its own, cancelled as the updater's progress window cancels its
// worker: through that thread's exit flag.
struct PhaseThread : juce::Thread
{
    PhaseThread (FirmwareManager& l, FirmwareKind k) : juce::Thread ("update run"), link (l), kind (k)
    {
    }

    ~PhaseThread() override
    {
        stopThread (-1);
    }

    void run() override
    {
        result = runUpdatePhase (link, kind, nullptr, [this] { return threadShouldExit(); });
    }

    FirmwareManager& link;
    FirmwareKind kind;
    std::atomic<int> result{0};
};

// A cancel that lands in the same poll step as the reply awaited: nothing more may be sent,
// whichever step of the handshake it is.
TEST_P (CancelWithReply, SendsNothingMore)
{
    VirtualUnit::Options options;
    options.startInLoader = GetParam().startInLoader;
    makeUnit (options);
    makeLink().loadBuiltInQexImage();

    const auto& reply = *GetParam().reply;
    std::atomic<int> receivedAtCancel{-1};
    service.setTrafficTap (
        [&] (bool toDevice, const std::uint8_t* data, int size)
        {
            if (! toDevice && receivedAtCancel.load() < 0 && Sysex::matchesMessage (data, size, reply))
            {
                receivedAtCancel = unit->messagesReceived();
                link->signalThreadShouldExit();
            }
        });

    EXPECT_FALSE (link->startQexUpdate());
    Pacing::sleep (500);
    service.setTrafficTap (nullptr);
    ASSERT_GE (receivedAtCancel.load(), 1);
    EXPECT_EQ (unit->messagesReceived(), receivedAtCancel.load());
    EXPECT_EQ (link->pollQexResult(), -1);
}

INSTANTIATE_TEST_SUITE_P (Transfer,
                          CancelWithReply,
                          ::testing::Values (CancelCase{"identity_running", false, &Sysex::identityReplyRunning},
                                             CancelCase{"loader_ack", false, &Sysex::enterLoaderAck},
                                             CancelCase{"identity_after_restart", false, &Sysex::identityReplyLoader},
                                             CancelCase{"identity_loader", true, &Sysex::identityReplyLoader},
                                             CancelCase{"map", true, &Sysex::mapReply},
                                             CancelCase{"begin_write_ack", true, &Sysex::beginWriteAck}),
                          [] (const auto& paramInfo) { return std::string (paramInfo.param.name); });

TEST_F (Transfer, CancelDuringTheQexHandshakeNeverBeginsTheWrite)
{
    makeUnit(); // running: the handshake includes the 5500 ms loader restart
    makeLink().loadBuiltInQexImage();

    PhaseThread phase (*link, FirmwareKind::qex);
    phase.startThread();
    while (unit->countReceived (0x71) == 0 && phase.isThreadRunning())
        Pacing::sleep (10);
    phase.signalThreadShouldExit();
    ASSERT_TRUE (phase.waitForThreadToExit (20000));

    EXPECT_EQ (phase.result.load(), phaseCancelled);
    EXPECT_FALSE (unit->beginWriteReceived());
    EXPECT_EQ (unit->countReceived (0x78), 0); // not even the map request
    expectPortsClosedAndIdle();
}

TEST_F (Transfer, CancelDuringTheDspStartPauseSendsNoImage)
{
    makeUnit();
    makeLink().loadBuiltInDspImage();

    PhaseThread phase (*link, FirmwareKind::dsp);
    phase.startThread();
    while (unit->messagesReceived() == 0 && phase.isThreadRunning())
        Pacing::sleep (10);
    phase.signalThreadShouldExit();
    ASSERT_TRUE (phase.waitForThreadToExit (20000));

    EXPECT_EQ (phase.result.load(), phaseCancelled);
    EXPECT_EQ (unit->messagesReceived(), 1); // the start message only
    expectPortsClosedAndIdle();
}

TEST_F (Transfer, DestroyingTheLinkMidTransferStopsItCleanly)
{
    makeUnit();
    makeLink().loadBuiltInDspImage();
    ASSERT_TRUE (link->startDspUpdate());
    Pacing::sleep (500);
    link = nullptr; // replies may still be on their way
    const auto received = unit->messagesReceived();
    Pacing::sleep (1000);
    EXPECT_EQ (unit->messagesReceived(), received);
}

TEST_F (Transfer, PollsReportZeroWhileTheWorkerRuns)
{
    makeUnit();
    makeLink().loadBuiltInDspImage();
    ASSERT_TRUE (link->startDspUpdate());
    EXPECT_EQ (link->pollDspResult(), 0);
    EXPECT_EQ (link->transferMode.load(), FirmwareManager::modeDsp);
    EXPECT_NE (link->midiIn, nullptr);
    link->signalThreadShouldExit();
    link->waitForWorkerToEnd();
    EXPECT_EQ (link->pollDspResult(), -1); // cut short: not a success
}

// A driver that never completes a send (a unit pulled out mid-send, on a platform whose send
// waits for the driver): the phase fails within the send limit and one bounded wait, instead of
// waiting without end; the ports stay the stuck worker's, and once the send completes the
// worker ends and the link works again.
TEST_F (Transfer, ASendThatNeverCompletesFailsThePhaseWithinBoundsAndTheLinkRecovers)
{
    makeUnit();
    makeLink().loadBuiltInDspImage();
    std::atomic<int> sent{0};
    service.setTrafficTap (
        [&] (bool toDevice, const std::uint8_t*, int)
        {
            if (toDevice && ++sent == 20)
                service.setSendsStall (true);
        });

    const auto started = juce::Time::getMillisecondCounterHiRes();
    EXPECT_EQ (run (FirmwareKind::dsp), phaseFailed);
    const auto tookMs = juce::Time::getMillisecondCounterHiRes() - started;
    expectFailure (Cause::sendStalled, Step::none); // not the cancel that followed it
    EXPECT_LT (tookMs, Protocol::sendLimitMs + Protocol::workerEndLimitMs + 2000.0);
    EXPECT_TRUE (link->isThreadRunning());
    EXPECT_FALSE (link->reopenUnitPorts());

    service.setSendsStall (false);
    service.setTrafficTap (nullptr);
    EXPECT_TRUE (link->waitForWorkerToEnd());
    ASSERT_TRUE (link->reopenUnitPorts());
    ASSERT_TRUE (link->loadBuiltInDspImage());
    EXPECT_EQ (run (FirmwareKind::dsp), phaseSucceeded);
    EXPECT_EQ (unit->dspReceived(), builtInDspImage());
}

// The same driver, outside the worker: the window's thread asks who the unit is, and an update
// run's thread sends the handshake and the DSP start. Neither may be held by the send (the window
// would freeze; the run's thread would be killed mid-send after a cancel): each gets its answer
// within the send limit, the port counts as stuck, and the link works again on the next opening.
TEST_F (Transfer, SendsOutsideTheWorkerThatNeverCompleteHoldNoThread)
{
    makeUnit();
    makeLink();
    struct StallCase
    {
        const char* where;
        int sendsBefore; // sent normally before the stall
        std::function<bool()> operation;
        Cause cause;
        Step step;
    };
    const StallCase cases[] = {
        {"identity probe",
         0,
         [this] { return link->askUnitMode() != FirmwareManager::UnitMode::unknown; },
         Cause::none,
         Step::none},
        {"QEX handshake, map request",
         3,
         [this] { return link->loadBuiltInQexImage(), link->startQexUpdate(); },
         Cause::sendStalled,
         Step::map},
        {"DSP start",
         0,
         [this] { return link->loadBuiltInDspImage() && link->startDspUpdate(); },
         Cause::sendStalled,
         Step::dspImage},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.where);
        ASSERT_TRUE (link->reopenUnitPorts());
        std::atomic<int> sent{0};
        service.setTrafficTap (
            [&] (bool toDevice, const std::uint8_t*, int)
            {
                if (toDevice && ++sent == c.sendsBefore)
                    service.setSendsStall (true);
            });
        if (c.sendsBefore == 0)
            service.setSendsStall (true);

        const auto started = juce::Time::getMillisecondCounterHiRes();
        auto answer = std::async (std::launch::async, c.operation);
        const bool returned =
            answer.wait_for (std::chrono::milliseconds (Protocol::sendLimitMs + 3000)) == std::future_status::ready;
        const auto tookMs = juce::Time::getMillisecondCounterHiRes() - started;
        service.setSendsStall (false);
        service.setTrafficTap (nullptr);
        EXPECT_TRUE (returned) << "the send held its thread for " << tookMs << " ms";
        EXPECT_FALSE (answer.get());
        EXPECT_GE (tookMs, Protocol::sendLimitMs - 1.0);
        EXPECT_TRUE (link->portStuck());
        if (c.cause != Cause::none)
            expectFailure (c.cause, c.step);
        link->pollQexResult();
        link->pollDspResult();
        EXPECT_EQ (link->midiOut, nullptr);
    }

    ASSERT_TRUE (link->reopenUnitPorts());
    EXPECT_EQ (link->askUnitMode(), FirmwareManager::UnitMode::loader); // the handshake had switched it
}

namespace
{
// A worker thread that the platform would not start.
struct WorkerThatWillNotStart : FirmwareManager
{
    bool startWorker() override
    {
        return false;
    }
};
} // namespace

TEST_F (Transfer, WorkerThatDoesNotStartIsAFailure)
{
    makeUnitInLoader();
    link = std::make_unique<WorkerThatWillNotStart>();
    ASSERT_TRUE (link->loadBuiltInDspImage());
    EXPECT_FALSE (link->startDspUpdate());
    EXPECT_EQ (link->pollDspResult(), -1);

    link->loadBuiltInQexImage();
    ASSERT_TRUE (link->reopenUnitPorts()); // the DSP poll closed them
    EXPECT_FALSE (link->startQexUpdate());
    EXPECT_EQ (link->pollQexResult(), -1);
    EXPECT_TRUE (unit->beginWriteReceived());
    EXPECT_EQ (unit->dataBlocksReceived(), 0);
}

TEST_F (Transfer, DspAcknowledgementTimeOutIsTraced)
{
    makeUnitInLoader();
    ASSERT_TRUE (unit->setFault ("no-dsp-ack"));
    makeLink();
    const int before = link->traceCount.load();
    EXPECT_EQ (runDsp ({0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x00, 0x57, 0x01, 0xF7}), phaseFailed);
    // After the start pause, after the end message, at the time-out, and at the poll.
    EXPECT_EQ (link->traceCount.load() - before, 4);
}
