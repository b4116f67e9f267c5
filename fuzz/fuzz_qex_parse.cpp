// Feeds arbitrary bytes as the QEX image to FirmwareManager::parseQexImage and checks the block
// list against the file layout: header, then address, length and data per block.

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
    fuzzedLink();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    auto& link = fuzzedLink();
    const auto before = link.imageBlocks;

    // The link owns a private copy of the image, as the loaders give it.
    link.qexImageStream = std::make_unique<juce::MemoryInputStream> (data, size, true);
    largestAllocation = 0;
    watching = true;
    const bool valid = link.parseQexImage();
    watching = false;

    // Nothing the parse allocates may outgrow the image: a block's bytes are at most its size,
    // the block list at most one entry per 8 bytes, doubled by growth.
    require (largestAllocation <= std::max (size, 2 * sizeof (ImageBlock) * (size / 8 + 1)), "no allocation beyond what the image holds");

    auto byteAt = [data, size] (size_t i)
    { return i < size ? data[i] : std::uint8_t{0}; };
    require (valid == (byteAt (1) == 0x1B && byteAt (3) == 0x02), "valid exactly when bytes 1 and 3 are 1B 02");

    const auto& blocks = link.imageBlocks;
    if (! valid)
    {
        require (blocks.size() == before.size(), "a refused image leaves the block list alone");
        for (size_t i = 0; i < blocks.size(); ++i)
            require (blocks[i].address == before[i].address && blocks[i].data == before[i].data, "a refused image leaves the blocks alone");
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

    require (serialised.size() <= size && std::equal (serialised.begin(), serialised.end(), data), "the blocks re-serialise to a prefix of the image");
    require (reserved <= size, "no more memory kept than the image has bytes");

    // The parse stops only where no further whole block fits.
    const size_t rest = size - serialised.size();
    if (rest >= 8)
    {
        const auto* next = data + serialised.size() + 4;
        const std::uint32_t length = (std::uint32_t{next[0]} << 24) | (std::uint32_t{next[1]} << 16) | (std::uint32_t{next[2]} << 8) | next[3];
        require (length > rest - 8, "every whole block is kept");
    }

    require (link.qexImageStream->isExhausted(), "the whole image counts as consumed");
    return 0;
}
