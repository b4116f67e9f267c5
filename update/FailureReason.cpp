#include "update/FailureReason.h"

#include "update/Texts.h"

namespace zelvor
{
namespace
{
    using Cause = RunFailure::Cause;
    using Step = RunFailure::Step;

    juce::String where (const RunFailure& failure)
    {
        switch (failure.step)
        {
            case Step::identity:
                return Texts::atIdentity;
            case Step::loaderSwitch:
                return Texts::atLoaderSwitch;
            case Step::loaderIdentity:
                return Texts::atLoaderIdentity;
            case Step::map:
                return Texts::atMap;
            case Step::beginWrite:
                return Texts::atBeginWrite;
            case Step::blocks:
                return juce::String::formatted (Texts::atBlocks, failure.done, failure.total);
            case Step::dspImage:
                return juce::String::formatted (
                    Texts::atDspImage,
                    failure.total > 0 ? (int) ((std::int64_t) failure.done * 100 / failure.total) : 0);
            case Step::dspEnd:
                return Texts::atDspEnd;
            case Step::none:
                break;
        }
        return {};
    }

    const char* what (Cause cause)
    {
        switch (cause)
        {
            case Cause::unitGone:
                return Texts::becauseUnitGone;
            case Cause::noAnswer:
                return Texts::becauseNoAnswer;
            case Cause::unexpected:
                return Texts::becauseUnexpected;
            case Cause::lateAnswer:
                return Texts::becauseLateAnswer;
            case Cause::dspError:
                return Texts::becauseDspError;
            case Cause::dspChecksum:
                return Texts::becauseDspChecksum;
            case Cause::loaderNotBack:
                return Texts::becauseLoaderNotBack;
            case Cause::portsHeld:
                return Texts::becausePortsHeld;
            case Cause::anotherUnit:
                return Texts::becauseAnotherUnit;
            case Cause::mapUnusable:
                return Texts::becauseMapUnusable;
            case Cause::sendStalled:
                return Texts::becauseSendStalled;
            case Cause::none:
            case Cause::cancelled:
                break;
        }
        return nullptr;
    }

    // Only where the step tells something the cause does not.
    bool saysWhere (Cause cause)
    {
        return cause == Cause::unitGone || cause == Cause::noAnswer || cause == Cause::unexpected ||
               cause == Cause::lateAnswer || cause == Cause::sendStalled;
    }

    const char* advice (Cause cause)
    {
        switch (cause)
        {
            case Cause::unitGone:
                return Texts::adviseConnection;
            case Cause::noAnswer:
            case Cause::unexpected:
            case Cause::lateAnswer:
                return Texts::adviseQuietLine;
            case Cause::dspChecksum:
                return Texts::adviseCable;
            case Cause::portsHeld:
                return Texts::adviseFreePorts;
            case Cause::anotherUnit:
                return Texts::adviseOneUnit;
            case Cause::sendStalled:
                return Texts::adviseReplug;
            case Cause::none:
            case Cause::cancelled:
            case Cause::dspError:      // the box asks for a power cycle already
            case Cause::loaderNotBack: // ... and says that nothing is lost
            case Cause::mapUnusable:   // nothing the user can do but use another file
                break;
        }
        return nullptr;
    }
} // namespace

juce::String failurePhrase (const RunFailure& failure)
{
    const auto* phrase = what (failure.cause);
    if (phrase == nullptr)
        return {};
    const auto place = saysWhere (failure.cause) ? where (failure) : juce::String();
    return place.isEmpty() ? juce::String (phrase) : juce::String (phrase) + " " + place;
}

juce::String failureLines (const RunFailure& failure, bool unitInLoader)
{
    juce::StringArray lines;
    const auto phrase = failurePhrase (failure);
    if (phrase.isNotEmpty())
        lines.add (phrase.substring (0, 1).toUpperCase() + phrase.substring (1) + ".");
    juce::StringArray todo;
    if (const auto* what = advice (failure.cause))
        todo.add (what);
    if (unitInLoader)
        todo.add (Texts::leftInLoader);
    if (! todo.isEmpty())
        lines.add (todo.joinIntoString (" "));
    return lines.joinIntoString ("\n");
}
} // namespace zelvor
