#include "link/QexImage.h"

#include "link/ImageFile.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

#include <BinaryData.h>

#include <algorithm>

namespace zelvor
{
namespace
{
    juce::String readBlocks (juce::InputStream& stream, std::vector<ImageBlock>& blocks)
    {
        // Only the low bytes of the two model values are checked; reading past the end yields 0.
        stream.readByte();
        const auto model1 = (std::uint8_t) stream.readByte();
        stream.readByte();
        const auto model2 = (std::uint8_t) stream.readByte();
        if (model1 != 0x1B || model2 != 0x02)
            return "The file is not a QEX firmware file.";

        auto remaining = [&stream] { return stream.getTotalLength() - stream.getPosition(); };

        while (remaining() > 0)
        {
            if (remaining() < 8)
                return "The file has bytes left over after its last block.";

            const auto address = (std::uint32_t) stream.readIntBigEndian();
            const auto length = (std::uint32_t) stream.readIntBigEndian();

            // Checked before anything is reserved for the block.
            if ((juce::uint64) remaining() < length)
                return "The file ends inside a block.";
            if (length == 0)
                return "The file has an empty block.";

            ImageBlock block;
            block.address = address;
            block.length = length;
            block.data.resize (length);
            stream.read (block.data.data(), (int) length);
            blocks.push_back (std::move (block));
        }

        if (blocks.empty())
            return "The file holds no firmware blocks.";

        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
        for (const auto& block : blocks)
            ranges.emplace_back (block.address, std::uint64_t{block.address} + block.length);
        std::sort (ranges.begin(), ranges.end());
        for (size_t i = 1; i < ranges.size(); ++i)
            if (ranges[i].first < ranges[i - 1].second)
                return "Two blocks of the file overlap.";

        return {};
    }
} // namespace

QexImage QexImage::fromBytes (const void* data, size_t size)
{
    QexImage image;
    juce::MemoryInputStream stream (data, size, false);
    std::vector<ImageBlock> blocks;
    image.reason = readBlocks (stream, blocks);
    if (image.reason.isNotEmpty())
        return image;

    image.imageBlocks = std::move (blocks);
    if (image.imageBlocks.size() > (size_t) Protocol::maxBlocksSent)
        image.reason = "The file has more than " + juce::String (Protocol::maxBlocksSent) + " blocks.";
    else if (! image.fits (unitFlashMap()))
        image.reason = "A block does not fit the unit's flash.";

    if (image.reason.isNotEmpty())
        image.imageBlocks.clear();
    return image;
}

QexImage QexImage::fromFile (const juce::File& file)
{
    juce::MemoryBlock contents;
    const auto problem = readImageFile (file, contents);
    if (problem.isNotEmpty())
    {
        QexImage refused;
        refused.reason = problem;
        return refused;
    }
    return fromBytes (contents.getData(), contents.getSize());
}

QexImage QexImage::builtIn()
{
    return fromBytes (BinaryData::qexImage_bin, (size_t) BinaryData::qexImage_binSize);
}

std::array<std::uint8_t, 52> QexImage::unitFlashMap()
{
    return Sysex::unpackSeven (Sysex::mapReply.bytes + Sysex::mapPackedOffset);
}

bool QexImage::fits (const std::array<std::uint8_t, 52>& mapBytes) const
{
    const auto& blocks = imageBlocks;
    const auto map = Sysex::readFlashMap (mapBytes);
    if (blocks.empty() || blocks.size() > (size_t) Protocol::maxBlocksSent || map.regions.empty())
        return false;

    for (const auto& block : blocks)
    {
        const auto first = std::find_if (map.regions.begin(),
                                         map.regions.end(),
                                         [&block] (const Sysex::FlashRegion& r) { return r.start == block.address; });

        // The block starts at a region's start and is not shorter than that region.
        if (first == map.regions.end() || first->length > block.length)
            return false;

        // Its bytes must stay inside the map: a block may run on only into regions that follow
        // without a gap.
        std::uint64_t coveredEnd = std::uint64_t{first->start} + first->length;
        const std::uint64_t blockEnd = std::uint64_t{block.address} + block.length;
        while (coveredEnd < blockEnd)
        {
            const auto next = std::find_if (map.regions.begin(),
                                            map.regions.end(),
                                            [coveredEnd] (const Sysex::FlashRegion& r)
                                            { return r.start == coveredEnd && r.length > 0; });
            if (next == map.regions.end())
                return false;
            coveredEnd += next->length;
        }
    }

    return true;
}
} // namespace zelvor
