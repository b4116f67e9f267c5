// Feeds arbitrary bytes to QexImage::fromBytes and checks the result against the file layout:
// header, then address, length and data per block, exactly to the end, and the unit's map.

#include "fuzz/FuzzSupport.h"

#include <BinaryData.h>
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <atomic>

using namespace zelvor;
using namespace zelvor::fuzz;

namespace
{
// The largest allocation made while the parse runs, so that memory reserved for a block that is
// then dropped is seen too.
std::atomic<bool> watching{false};
std::atomic<size_t> largestAllocation{0};

void onAllocation (const volatile void*, size_t bytes)
{
    if (watching && bytes > largestAllocation)
        largestAllocation = bytes;
}

void onRelease (const volatile void*)
{
}

std::vector<Bytes> makeSeeds()
{
    const auto* image = reinterpret_cast<const std::uint8_t*> (BinaryData::qexImage_bin);
    const Bytes header (image, image + 4);

    // The built-in image's header and first blocks, each cut to 16 bytes of data so it stays small.
    Bytes shortBlocks = header;
    for (int block = 0; block < 3; ++block)
    {
        const auto* start = image + 4 + block * (8 + 0x10000);
        shortBlocks.insert (shortBlocks.end(), start, start + 4);
        appendBigEndian32 (shortBlocks, 16);
        shortBlocks.insert (shortBlocks.end(), start + 8, start + 8 + 16);
    }

    Bytes hugeLength = header;
    appendBigEndian32 (hugeLength, 0x10000);
    appendBigEndian32 (hugeLength, 0xFFFFFFFF);

    return {header, shortBlocks, hugeLength, Bytes (image, image + 4096), Bytes{0x7F, 0x1B, 0x55, 0x02, 1, 2, 3}};
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    writeSeedsIfAsked (makeSeeds);
    require (__sanitizer_install_malloc_and_free_hooks (onAllocation, onRelease) == 1, "allocation hook installed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    largestAllocation = 0;
    watching = true;
    const auto image = QexImage::fromBytes (data, size);
    watching = false;
    const bool valid = image.isUsable();

    // Nothing the parse allocates may outgrow the image: a block's bytes are at most its size,
    // the block list at most one entry per 8 bytes, doubled by growth. A refusal also spells
    // out its reason, a short sentence.
    constexpr size_t reasonText = 512;
    require (largestAllocation <= std::max (size, 2 * sizeof (ImageBlock) * (size / 8 + 1)) + reasonText,
             "no allocation beyond what the image holds");

    // A plain model of a sound image: the header, then whole, non-empty blocks exactly to the
    // end, no two over the same bytes.
    auto modelValid = [data, size]
    {
        if (size < 4 || data[1] != 0x1B || data[3] != 0x02)
            return false;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
        size_t pos = 4;
        while (pos < size)
        {
            if (size - pos < 8)
                return false;
            auto word = [data] (size_t at)
            {
                return (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
                       (std::uint32_t{data[at + 2]} << 8) | data[at + 3];
            };
            const auto address = word (pos), length = word (pos + 4);
            if (length == 0 || length > size - pos - 8)
                return false;
            ranges.emplace_back (address, std::uint64_t{address} + length);
            pos += 8 + length;
        }
        std::sort (ranges.begin(), ranges.end());
        for (size_t i = 1; i < ranges.size(); ++i)
            if (ranges[i].first < ranges[i - 1].second)
                return false;
        return ! ranges.empty();
    };
    // A sound layout is refused only for what the unit cannot take: too many blocks, or one
    // outside its map.
    const auto layoutSound = modelValid();
    require (! valid || layoutSound, "usable only with a header and whole, separate blocks to the end");
    require (valid || ! layoutSound || image.problem().startsWith ("The file has more than") ||
                 image.problem() == "A block does not fit the unit's flash.",
             "a sound layout refused only for the unit's limits");

    const auto& blocks = image.blocks();
    if (! valid)
    {
        require (blocks.empty() && image.problem().isNotEmpty(), "a refused image holds no block and says why");
        return 0;
    }

    Bytes serialised (data, data + 4);
    size_t reserved = 0;
    for (const auto& block : blocks)
    {
        require (block.data.size() == block.length, "a block holds exactly its length");
        appendBigEndian32 (serialised, block.address);
        appendBigEndian32 (serialised, block.length);
        serialised.insert (serialised.end(), block.data.begin(), block.data.end());
        reserved += block.data.capacity();
    }

    require (serialised.size() == size && std::equal (serialised.begin(), serialised.end(), data),
             "the blocks re-serialise to the image");
    require (reserved <= size, "no more memory kept than the image has bytes");
    return 0;
}
