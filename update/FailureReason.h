#pragma once

#include "link/RunFailure.h"

#include <juce_core/juce_core.h>

namespace zelvor
{
// What a failed run tells the user, from the link's RunFailure: the phrase the headless driver
// puts after its phase ("the Zelvor stopped answering after 412 of 831 blocks"), "" when there
// is nothing to tell (no failure the link saw, or a cancel).
juce::String failurePhrase (const RunFailure& failure);

// The lines a failure box adds after its own: the phrase as a sentence, what to do about it, and,
// for a unit left in its loader, that nothing is lost. "" when there is nothing to add.
juce::String failureLines (const RunFailure& failure, bool unitInLoader);
} // namespace zelvor
