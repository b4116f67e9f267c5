#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace zelvor
{
// A DSP update file, checked once: its bytes, replayed message by message, or why the loaders
// would refuse it (see checkDspImage). Copies share the bytes.
class DspImage
{
public:
    DspImage() = default; // no image: not usable
    static DspImage fromBytes (const void* data, size_t size);
    static DspImage fromFile (const juce::File& file);
    static DspImage builtIn();

    bool isUsable() const
    {
        return reason.isEmpty();
    }
    // Why it cannot be sent, in a sentence for the user ("" when it can).
    const juce::String& problem() const
    {
        return reason;
    }
    size_t size() const
    {
        return bytes == nullptr ? 0 : bytes->getSize();
    }
    // The image from its start; empty unless it is usable.
    std::unique_ptr<juce::InputStream> read() const;

private:
    std::shared_ptr<const juce::MemoryBlock> bytes;
    juce::String reason{"No DSP image is selected."};
};
} // namespace zelvor
