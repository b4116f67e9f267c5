#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace zelvor
{
// One block of the QEX image: where it goes in the unit's flash, and its bytes.
struct ImageBlock
{
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> data;
};

// A QEX update file, read once: its blocks, or why it cannot be written whole. A sound image is
// a model word, then blocks (address and length, big-endian, then the bytes) that run exactly to
// its end; none is empty, no two cover the same bytes (the unit's write relies on erased flash,
// so a second write over a range would leave it holding neither block), and each fits the map
// the link works with.
class QexImage
{
public:
    QexImage() = default; // no image: not usable
    static QexImage fromBytes (const void* data, size_t size);
    static QexImage fromFile (const juce::File& file);
    static QexImage builtIn();

    bool isUsable() const
    {
        return reason.isEmpty();
    }
    // Why it cannot be written, in a sentence for the user ("" when it can).
    const juce::String& problem() const
    {
        return reason;
    }
    // In file order; empty unless the image is usable.
    const std::vector<ImageBlock>& blocks() const
    {
        return imageBlocks;
    }

    // Every block starts at a region of the map, is not shorter than that region and runs on only
    // into regions that follow without a gap; no more blocks than the link sends.
    bool fits (const std::array<std::uint8_t, 52>& map) const;
    // The map the unit answers with, the only one the link ever works with.
    static std::array<std::uint8_t, 52> unitFlashMap();

private:
    std::vector<ImageBlock> imageBlocks;
    juce::String reason{"No QEX image is selected."};
};
} // namespace zelvor
