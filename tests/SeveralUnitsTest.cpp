#include "TestSupport.h"

#include "link/SysexCodec.h"
#include "sim/HeadlessUpdate.h"

#include <BinaryData.h>

#include <mutex>

using namespace zelvor;
using namespace zelvor::test;

// Unit A, the one the user means (and power-cycles), and beside it a second device: another unit
// running or in its loader, or ports named like the unit's that never answer. It is there from
// the start or turns up (or, silent, goes away) at a step of the headless full update, in every
// listing order. Whatever happens: no success unless A holds what was asked for and the second
// device holds what it held before, nothing but identity requests ever reaches a device that is
// not the unit, and no unit that ran its firmware is left in its loader unless the run failed in
// its QEX phase and says so.
namespace
{
enum class Second
{
    running,
    loader,
    silent
};

enum class When
{
    fromStart,
    inDspReplay,  // at its 50th message
    atPowerCycle, // while the user switches A off and on
    atLoaderRestart,
    inQexBlocks // at the third block
};

struct Case
{
    // What A does when the user is asked to power-cycle it: restarts, restarts but is listed only
    // after the link's first look, is unplugged for good (the second unit takes its place), or is
    // left on.
    enum class AtCycle
    {
        restarts,
        backLate,
        leaves,
        staysOn
    };

    Case (const char* n, Second s, When w = When::fromStart) : name (n), second (s), when (w)
    {
    }

    const char* name;
    Second second;
    When when;
    bool secondListedFirst = false;
    bool qexOnly = false;
    bool aInLoader = false;
    bool inputsReversed = false, outputsReversed = false;
    bool namesOnly = false; // Windows: no device told, a second name numbered "2- "
    const char* aFault = "none";
    AtCycle aAtCycle = AtCycle::restarts;

    Case& listedFirst()
    {
        secondListedFirst = true;
        return *this;
    }
    Case& onlyQex()
    {
        qexOnly = true;
        return *this;
    }
    Case& unitInLoader()
    {
        aInLoader = true;
        return *this;
    }
    Case& reversed (bool inputs, bool outputs)
    {
        inputsReversed = inputs;
        outputsReversed = outputs;
        return *this;
    }
    Case& byNamesOnly()
    {
        namesOnly = true;
        return *this;
    }
    Case& unitFault (const char* fault)
    {
        aFault = fault;
        return *this;
    }
    Case& atCycle (AtCycle what)
    {
        aAtCycle = what;
        return *this;
    }
};

std::ostream& operator<< (std::ostream& out, const Case& c)
{
    return out << c.name;
}

bool isDspMessage (const std::uint8_t* data, int size)
{
    return size > 3 && data[1] == 0x00 && data[3] == 0x10;
}

bool isDataBlock (const std::uint8_t* data, int size)
{
    return size > 5 && data[1] == 0x06 && data[5] == 0x7A;
}

bool holdsBuiltInQex (const std::vector<std::uint8_t>& flash)
{
    const auto image = QexImage::builtIn();
    return std::all_of (image.blocks().begin(),
                        image.blocks().end(),
                        [&flash] (const ImageBlock& b)
                        { return std::equal (b.data.begin(), b.data.end(), flash.begin() + b.address); });
}

bool holdsBuiltInDsp (const VirtualUnit& unit)
{
    const auto* dsp = reinterpret_cast<const std::uint8_t*> (BinaryData::dspImage_syx);
    return unit.dspReceived() == Bytes (dsp, dsp + BinaryData::dspImage_syxSize) && unit.dspEndAcknowledged();
}

class SeveralUnits : public ::testing::TestWithParam<Case>
{
protected:
    SeveralUnits()
    {
        Pacing::setSpeed (250.0);
        FirmwareManager::setTraceWriter ([] (const char*) {});
        MidiPortService::install (&service);
    }

    ~SeveralUnits() override
    {
        service.setTrafficTap (nullptr);
        MidiPortService::install (nullptr);
        FirmwareManager::setTraceWriter (nullptr);
        Pacing::setSpeed (1.0);
    }

    // Ports named like the unit's that never answer, recording what reaches them.
    void addSilentPorts()
    {
        const auto name = VirtualUnit::Options().inputPortName;
        const auto device = service.newDevice();
        silentIn = service.addInputPort (name, device);
        silentOut = service.addOutputPort (
            name,
            [this] (const juce::MidiMessage& m)
            {
                if (! Sysex::matchesMessage (m.getRawData(), m.getRawDataSize(), Sysex::identityRequest))
                    ++notIdentityToSilent;
            },
            device);
    }

    VirtualMidiService service;
    int silentIn = -1, silentOut = -1;
    std::atomic<int> notIdentityToSilent{0};
};
} // namespace

TEST_P (SeveralUnits, NeverASuccessThatDidNotHappen)
{
    const auto c = GetParam();
    service.setListingReversed (c.inputsReversed, c.outputsReversed);
    service.setNamesOnly (c.namesOnly);

    VirtualUnit::Options aOptions;
    aOptions.startInLoader = c.aInLoader;
    aOptions.pluggedIn = false;
    VirtualUnit a (service, aOptions);
    ASSERT_TRUE (a.setFault (c.aFault));

    VirtualUnit::Options bOptions;
    bOptions.startInLoader = c.second == Second::loader;
    bOptions.pluggedIn = false;
    VirtualUnit b (service, bOptions);

    const bool secondIsUnit = c.second != Second::silent;
    // The second device's step: a unit plugs in, silent ports go away (listed from the start).
    auto secondStep = [&]
    {
        if (secondIsUnit)
        {
            b.plugIn();
        }
        else
        {
            service.removePort (silentIn);
            service.removePort (silentOut);
        }
    };

    const bool secondFromStart = c.when == When::fromStart || ! secondIsUnit;
    if (c.secondListedFirst && secondFromStart)
        secondIsUnit ? b.plugIn() : addSilentPorts();
    a.plugIn();
    if (! c.secondListedFirst && secondFromStart)
        secondIsUnit ? b.plugIn() : addSilentPorts();

    const bool aRanBefore = ! a.isInLoader();
    const auto bFlashBefore = b.flash();

    std::mutex lock;
    int dspSent = 0, blocksSent = 0;
    bool stepTaken = false;
    service.setTrafficTap (
        [&] (bool toDevice, const std::uint8_t* data, int size)
        {
            const std::lock_guard<std::mutex> guard (lock);
            if (! toDevice || stepTaken)
                return;
            dspSent += isDspMessage (data, size) ? 1 : 0;
            blocksSent += isDataBlock (data, size) ? 1 : 0;
            const bool now =
                (c.when == When::inDspReplay && dspSent == 50) || (c.when == When::inQexBlocks && blocksSent == 3) ||
                (c.when == When::atLoaderRestart && Sysex::matchesMessage (data, size, Sysex::enterLoaderRequest));
            if (now)
            {
                stepTaken = true;
                // While the unit restarts into its loader (1500 ms), or at once.
                service.schedule (c.when == When::atLoaderRestart ? 700.0 : 0.0, secondStep);
            }
        });

    HeadlessUpdate update;
    update.dsp = ! c.qexOnly;
    const auto result = runHeadlessUpdate (update,
                                           [&]
                                           {
                                               if (c.aAtCycle == Case::AtCycle::restarts)
                                                   a.powerCycle();
                                               else if (c.aAtCycle != Case::AtCycle::staysOn)
                                                   a.unplug();
                                               // Past the power-on wait's first look (6000 ms on).
                                               if (c.aAtCycle == Case::AtCycle::backLate)
                                                   service.schedule (7000.0, [&a] { a.plugIn(); });
                                               if (c.when == When::atPowerCycle)
                                                   secondStep();
                                           });
    service.setTrafficTap (nullptr);
    const bool succeeded = result.outcome == HeadlessResult::Outcome::success;
    SCOPED_TRACE (result.reason);

    // Nothing but identity requests to what is not the unit.
    EXPECT_EQ (notIdentityToSilent.load(), 0);
    if (secondIsUnit && c.when == When::fromStart)
    {
        EXPECT_FALSE (succeeded);
        EXPECT_EQ (result.reason, "more than one Zelvor is connected");
        for (auto* unit : {&a, &b})
        {
            EXPECT_EQ (unit->dataBlocksReceived(), 0);
            EXPECT_TRUE (unit->dspReceived().empty());
            EXPECT_FALSE (unit->beginWriteReceived());
        }
    }
    if (! secondIsUnit && (c.aAtCycle == Case::AtCycle::restarts || c.aAtCycle == Case::AtCycle::backLate))
    {
        // A look-alike port in any order, even going away or left alone while the unit is slow to
        // come back, costs nothing.
        EXPECT_TRUE (succeeded);
    }
    if (c.aAtCycle == Case::AtCycle::staysOn)
    {
        EXPECT_EQ (result.reason, "the unit still starts its loader after its power cycle");
    }
    if (c.aAtCycle == Case::AtCycle::leaves)
    {
        EXPECT_EQ (result.reason,
                   "the unit that came back after the power cycle is in its loader, not the one written");
    }

    if (succeeded)
    {
        EXPECT_TRUE (holdsBuiltInQex (a.flash()));
        EXPECT_TRUE (c.qexOnly || holdsBuiltInDsp (a));
        EXPECT_EQ (b.flash(), bFlashBefore);
        EXPECT_TRUE (b.dspReceived().empty());
    }

    // The second unit is never switched into its loader. A unit that ran its firmware is left in
    // its loader only by a QEX phase that failed and says so; after a success, its firmware is
    // whole and it starts it at the power cycle the user is asked for.
    EXPECT_EQ (b.isInLoader(), bOptions.startInLoader);
    if (succeeded)
    {
        EXPECT_TRUE (a.mainFirmwareValid());
    }
    else if (aRanBefore && a.isInLoader())
    {
        EXPECT_TRUE (result.reason.contains ("QEX"));
    }
}

auto caseName = [] (const ::testing::TestParamInfo<Case>& param) { return std::string (param.param.name); };

INSTANTIATE_TEST_SUITE_P (
    FromTheStart,
    SeveralUnits,
    ::testing::Values (Case ("RunningAndLoader", Second::loader),
                       Case ("LoaderListedFirst", Second::loader).listedFirst(),
                       Case ("RunningAndLoaderQexOnly", Second::loader).onlyQex(),
                       Case ("BothRunning", Second::running),
                       Case ("BothRunningQexOnly", Second::running).onlyQex(),
                       Case ("OutputsListedTheOtherWay", Second::running).reversed (false, true),
                       Case ("InputsListedTheOtherWay", Second::loader).reversed (true, false),
                       Case ("BothRunningNamesOnly", Second::running).byNamesOnly(),
                       Case ("SilentPortAfter", Second::silent),
                       Case ("SilentPortFirst", Second::silent).listedFirst(),
                       Case ("SilentPortOutputsTheOtherWay", Second::silent).listedFirst().reversed (false, true),
                       Case ("SilentPortNamesOnly", Second::silent).listedFirst().byNamesOnly(),
                       Case ("SilentPortAndUnitInLoader", Second::silent).listedFirst().unitInLoader()),
    caseName);

INSTANTIATE_TEST_SUITE_P (
    MidRun,
    SeveralUnits,
    ::testing::Values (
        Case ("RunningJoinsInDspReplay", Second::running, When::inDspReplay),
        Case ("LoaderJoinsInDspReplay", Second::loader, When::inDspReplay),
        Case ("RunningJoinsAtPowerCycle", Second::running, When::atPowerCycle),
        Case ("LoaderJoinsAtPowerCycle", Second::loader, When::atPowerCycle),
        Case ("RunningJoinsAtLoaderRestart", Second::running, When::atLoaderRestart),
        Case ("LoaderJoinsAtLoaderRestart", Second::loader, When::atLoaderRestart),
        // A takes 8000 ms to restart: the loader that joined is the only one listed when the link
        // looks, and A turns up only during the blocks.
        Case ("LoaderJoinsWhileTheUnitIsSlowToRestart", Second::loader, When::atLoaderRestart)
            .unitFault ("slow-loader-restart"),
        // The answer after the power cycle must be the mode the first phase left.
        Case ("LoaderTakesTheUnitsPlaceAtPowerCycle", Second::loader, When::atPowerCycle)
            .atCycle (Case::AtCycle::leaves),
        // At the link's first look after the power cycle only the silent port is listed: it is
        // asked again, not taken for the unit, and the unit is found at the next look.
        Case ("UnitBackLateBesideSilentPort", Second::silent).listedFirst().atCycle (Case::AtCycle::backLate),
        Case ("UnitInLoaderNotPowerCycled", Second::silent, When::atPowerCycle)
            .unitInLoader()
            .atCycle (Case::AtCycle::staysOn),
        Case ("RunningJoinsInQexBlocks", Second::running, When::inQexBlocks),
        Case ("LoaderJoinsInQexBlocks", Second::loader, When::inQexBlocks),
        Case ("SilentGoesInDspReplay", Second::silent, When::inDspReplay),
        Case ("SilentGoesAtPowerCycle", Second::silent, When::atPowerCycle),
        Case ("SilentGoesAtLoaderRestart", Second::silent, When::atLoaderRestart),
        Case ("SilentGoesInQexBlocks", Second::silent, When::inQexBlocks)),
    caseName);
