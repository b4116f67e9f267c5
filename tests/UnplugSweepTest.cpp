#include "TestSupport.h"

#include "sim/HeadlessUpdate.h"

#include <BinaryData.h>

#include <atomic>
#include <chrono>
#include <mutex>

using namespace zelvor;
using namespace zelvor::test;

// Faults at every point of a full update, right after the K-th message from the link: through
// the handshake and spread over both transfers to the last message.
// - A loose cable (unplug-after): every run ends in failure with the ports released, promptly and
//   without sending anything more, unless the unit had received everything, in which case its
//   flash and DSP record hold the images.
// - A blink (blink-after: the unit missing from the port lists for a moment while its ports keep
//   working): a failure, or a success only with both images on the unit.
// - A power cut (power-cut-after: the message is lost, the unit comes back in the mode its flash
//   dictates, its loader if the write was cut short): the user then clicks " Update Zelvor" again,
//   and that second run ends in success with both images on the unit, with either kind of loader.
namespace
{
constexpr double sweepSpeed = 250.0;
constexpr double promptMs =
    30000.0; // slept by the thread that met the unplug, to its end: one handshake wait and the closing pauses fit

struct SweepKind
{
    bool qexHalf;
    const char* fault; // "unplug-after", "blink-after" or "power-cut-after"
    bool lenientLoader = false;
};

std::ostream& operator<< (std::ostream& out, const SweepKind& kind)
{
    return out << kind.fault << (kind.qexHalf ? ", QEX half" : ", DSP half")
               << (kind.lenientLoader ? ", lenient loader" : "");
}

struct SweepRun
{
    HeadlessResult result;       // of the first run
    HeadlessResult secondResult; // of the run again after a power cut
    int sent = 0;                // messages the link sent in the first run
    int sentAfterUnplug = 0;     // of those, after the unit was gone
    int firstQexMessage = 0;     // 1-based number of the first QEX-family message after the DSP image, 0 when none
    double unplugToEndMs = 0.0;
    double realSeconds = 0.0;
    bool flashHoldsImage = false;
    bool dspHoldsImage = false;
};

class UnplugSweep : public ::testing::TestWithParam<SweepKind>
{
protected:
    UnplugSweep()
    {
        Pacing::setSpeed (sweepSpeed);
        FirmwareManager::setTraceWriter ([] (const char*) {});
    }

    ~UnplugSweep() override
    {
        FirmwareManager::setTraceWriter (nullptr);
        Pacing::setSpeed (1.0);
    }

    // A full update of the built-in images with the fault after message k (0: none), and for a
    // power cut a second full update once the unit is back.
    static SweepRun runWithFaultAfter (const SweepKind& kind, int k)
    {
        VirtualMidiService service;
        MidiPortService::install (&service);

        SweepRun run;
        std::mutex lock;
        bool firstRunOver = false, sawDsp = false;
        double unpluggedAt = -1.0;
        Pacing::SleepCounter unplugThread; // the thread that sent the last message, and what it had slept
        double sleptAtUnplug = 0.0;
        service.setTrafficTap (
            [&] (bool toDevice, const std::uint8_t* data, int size)
            {
                const std::lock_guard<std::mutex> guard (lock);
                if (! toDevice || firstRunOver)
                    return;
                ++run.sent;
                sawDsp = sawDsp || (size > 3 && data[1] == 0x00 && data[3] == 0x10);
                if (run.firstQexMessage == 0 && sawDsp && size > 1 && data[1] == 0x06)
                    run.firstQexMessage = run.sent;
                if (run.sent == k)
                {
                    unpluggedAt = Pacing::elapsedMilliseconds();
                    unplugThread = Pacing::sleepCounterOfThisThread();
                    sleptAtUnplug = unplugThread->load();
                }
                else if (unpluggedAt >= 0.0)
                {
                    ++run.sentAfterUnplug;
                }
            });

        {
            VirtualUnit::Options options;
            options.loaderTakesDsp = kind.lenientLoader;
            VirtualUnit unit (service, options);
            if (k > 0)
            {
                EXPECT_TRUE (unit.setFault (kind.fault + (":" + juce::String (k))));
            }

            const auto started = std::chrono::steady_clock::now();
            run.result = runHeadlessUpdate ({}, unit);
            run.realSeconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();
            {
                const std::lock_guard<std::mutex> guard (lock);
                firstRunOver = true;
            }
            // Counted in the sleeps that thread asked for, which a busy machine does not lengthen.
            if (unplugThread != nullptr)
                run.unplugToEndMs = unplugThread->load() - sleptAtUnplug;

            if (juce::String (kind.fault) == "power-cut-after")
            {
                // The user answers the failure box and clicks again once the unit is back.
                EXPECT_TRUE (unit.setFault ("none"));
                for (int tries = 0; tries < 5 && ! unit.isPluggedIn(); ++tries)
                    Pacing::sleep (2000);
                run.secondResult = runHeadlessUpdate ({}, unit);
            }
            service.setTrafficTap (nullptr);

            const auto* dsp = reinterpret_cast<const std::uint8_t*> (BinaryData::dspImage_syx);
            run.dspHoldsImage =
                unit.dspReceived() == Bytes (dsp, dsp + BinaryData::dspImage_syxSize) && unit.dspEndAcknowledged();

            const auto image = QexImage::builtIn();
            const auto flash = unit.flash();
            run.flashHoldsImage =
                std::all_of (image.blocks().begin(),
                             image.blocks().end(),
                             [&flash] (const ImageBlock& b)
                             { return std::equal (b.data.begin(), b.data.end(), flash.begin() + b.address); });
        }

        MidiPortService::install (nullptr);
        return run;
    }
};
} // namespace

// One half of a sweep each, so that they can run side by side.
TEST_P (UnplugSweep, EveryPointEndsInFailureOrAWholeWrite)
{
    const auto kind = GetParam();
    const juce::String fault = kind.fault;
    const bool unplug = fault == "unplug-after";
    const bool powerCut = fault == "power-cut-after";
    using Outcome = HeadlessResult::Outcome;

    // The clean run: a legitimate success, and the number of messages to sweep over.
    const auto clean = runWithFaultAfter (kind, 0);
    ASSERT_EQ (clean.result.outcome, Outcome::success);
    ASSERT_TRUE (clean.flashHoldsImage && clean.dspHoldsImage);
    const int total = clean.sent;
    const int qexStart = clean.firstQexMessage; // the identity request after the power cycle
    ASSERT_GT (qexStart, 3);

    // DSP half: the unit's identity request, the DSP phase's first and last messages one by one
    // and points spread between them. QEX half: the whole handshake and the first blocks one by
    // one, points spread over the blocks, the last two messages, and one past the last, when no
    // fault happens. A power cut costs two runs, so its points are fewer.
    const int spread = powerCut ? 4 : 12;
    std::vector<int> points;
    if (kind.qexHalf)
    {
        for (int k = qexStart; k < qexStart + 7; ++k)
            points.push_back (k);
        for (int i = 1; i < spread; ++i)
            points.push_back (qexStart + 7 + (total - qexStart - 9) * i / spread);
        points.insert (points.end(), {total - 1, total, total + 1});
    }
    else
    {
        points = {1, 2, 3, qexStart - 2, qexStart - 1};
        for (int i = 1; i < spread; ++i)
            points.push_back (3 + (qexStart - 5) * i / spread);
    }

    int failures = 0, successes = 0;
    double slowest = clean.realSeconds;
    for (const int k : points)
    {
        const auto run = runWithFaultAfter (kind, k);
        slowest = std::max (slowest, run.realSeconds);
        const auto& outcome = run.result.outcome;

        if (powerCut)
        {
            // Whatever the first run met, the second one recovers the unit.
            EXPECT_EQ (run.secondResult.outcome, Outcome::success)
                << "power cut after message " << k << ": " << run.secondResult.reason;
            EXPECT_TRUE (run.flashHoldsImage && run.dspHoldsImage) << "power cut after message " << k;
        }

        EXPECT_TRUE (run.result.portsReleased) << fault << " " << k;
        if (outcome == Outcome::success)
        {
            ++successes;
            if (! unplug && ! powerCut)
                EXPECT_TRUE (run.flashHoldsImage && run.dspHoldsImage)
                    << "a success without the images, " << fault << " " << k;
            else
                EXPECT_GT (k, total) << "a success although the unit went after message " << k;
            continue;
        }

        ++failures;
        EXPECT_EQ (outcome, Outcome::failure) << k;
        EXPECT_LE (k, total) << "no fault, yet a failure: " << run.result.reason;
        if (! unplug)
            continue; // a blink's ports still work; a cut unit comes back
        EXPECT_EQ (run.sentAfterUnplug, 0) << "sent to a unit that had gone after message " << k;
        EXPECT_LT (run.unplugToEndMs, promptMs) << "unplugged after message " << k << ": " << run.result.reason;
    }

    std::printf ("%s sweep%s, %s half: %d runs and the clean one, %d failures, %d successes, slowest run %.2f s; %d "
                 "messages in a full update\n",
                 kind.fault,
                 kind.lenientLoader ? " (lenient loader)" : "",
                 kind.qexHalf ? "QEX" : "DSP",
                 (int) points.size(),
                 failures,
                 successes,
                 slowest,
                 total);
}

INSTANTIATE_TEST_SUITE_P (Full,
                          UnplugSweep,
                          ::testing::Values (SweepKind{false, "unplug-after"},
                                             SweepKind{true, "unplug-after"},
                                             SweepKind{false, "blink-after"},
                                             SweepKind{true, "blink-after"},
                                             SweepKind{false, "power-cut-after"},
                                             SweepKind{true, "power-cut-after"},
                                             SweepKind{true, "power-cut-after", true}),
                          [] (const auto& paramInfo)
                          {
                              const juce::String fault = paramInfo.param.fault;
                              return std::string (paramInfo.param.qexHalf ? "Qex" : "Dsp") +
                                     (fault.startsWith ("blink")   ? "Blink"
                                      : fault.startsWith ("power") ? "PowerCut"
                                                                   : "Unplug") +
                                     (paramInfo.param.lenientLoader ? "LenientLoader" : "");
                          });
