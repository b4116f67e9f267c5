#pragma once

#include <juce_core/juce_core.h>

namespace zelvor
{
// Reads a whole update file, or says why not in a sentence for the user ("" when read). Only a
// regular file is read (a device or a FIFO could stream forever or block), and never more than
// the size limit, whatever size the file claims.
juce::String readImageFile (const juce::File& file, juce::MemoryBlock& contents);
} // namespace zelvor
