// The embedded pictures and firmware images come from tools/make_resources.py. The look and feel,
// the main window and the two transfers rely on their sizes and layout, so those are checked here
// on the bytes that are actually linked into the program.

#include <juce_core/juce_core.h>
#include <juce_graphics/juce_graphics.h>

#include "BinaryData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace
{
struct Bytes
{
    const std::uint8_t* data;
    size_t size;

    std::uint8_t operator[] (size_t index) const
    {
        return data[index];
    }
};

Bytes bytesOf (const char* data, int size)
{
    return {reinterpret_cast<const std::uint8_t*> (data), static_cast<size_t> (size)};
}

std::uint32_t bigEndian16 (const Bytes& bytes, size_t offset)
{
    return (std::uint32_t (bytes[offset]) << 8) | std::uint32_t (bytes[offset + 1]);
}

std::uint32_t bigEndian32 (const Bytes& bytes, size_t offset)
{
    return (bigEndian16 (bytes, offset) << 16) | bigEndian16 (bytes, offset + 2);
}

juce::Image decode (const char* data, int size)
{
    return juce::ImageFileFormat::loadFrom (data, static_cast<size_t> (size));
}

struct Picture
{
    const char* name;
    const char* data;
    int size;
    int width;
    int height;
};

// Built on demand: the BinaryData pointers live in another translation unit.
std::vector<Picture> pictures()
{
    return {
        {"background.png", BinaryData::background_png, BinaryData::background_pngSize, 1356, 836},
        {"windowIcon.jpg", BinaryData::windowIcon_jpg, BinaryData::windowIcon_jpgSize, 32, 32},
        {"alertBackground.png", BinaryData::alertBackground_png, BinaryData::alertBackground_pngSize, 928, 270},
        {"progressTrack.png", BinaryData::progressTrack_png, BinaryData::progressTrack_pngSize, 278, 20},
        {"progressFill.png", BinaryData::progressFill_png, BinaryData::progressFill_pngSize, 1, 20},
        {"appIcon.png", BinaryData::appIcon_png, BinaryData::appIcon_pngSize, 256, 256},
    };
}

//==============================================================================
// Pictures: formats and sizes

TEST (ResourcesPictures, EachDecodesToExactlyItsListedSize)
{
    for (const auto& picture : pictures())
    {
        SCOPED_TRACE (picture.name);
        const auto image = decode (picture.data, picture.size);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), picture.width);
        EXPECT_EQ (image.getHeight(), picture.height);
    }
}

TEST (ResourcesPictures, BackgroundLogoIsBlueAndWhiteInsideItsCorner)
{
    const auto background = decode (BinaryData::background_png, BinaryData::background_pngSize);
    ASSERT_TRUE (background.isValid());

    // The window shows the top-left 400 x 200; the logo belongs at about x 20..313, y 24..52.
    const juce::Rectangle<int> logoArea (16, 20, 302, 37);
    int blueInside = 0;
    int whiteInside = 0;
    int blueOutside = 0;

    for (int y = 0; y < 200; ++y)
    {
        for (int x = 0; x < 400; ++x)
        {
            const auto c = background.getPixelAt (x, y);
            const bool blue = c.getBlue() > c.getRed() + 40 && c.getBlue() > c.getGreen() + 20;
            const bool white = c.getRed() >= 253 && c.getGreen() >= 253 && c.getBlue() >= 253;

            if (! logoArea.contains (x, y))
            {
                blueOutside += blue ? 1 : 0;
                continue;
            }

            blueInside += blue ? 1 : 0;
            whiteInside += white ? 1 : 0;
        }
    }

    EXPECT_EQ (blueOutside, 0);
    EXPECT_GT (blueInside, 1000);
    EXPECT_GT (whiteInside, 100);
}

//==============================================================================
// The built-in QEX image

constexpr size_t qexChunkSize = 256;

struct QexBlock
{
    std::uint32_t address;
    std::uint32_t length;
    const std::uint8_t* data;
};

std::vector<QexBlock> qexBlocks (const Bytes& image)
{
    std::vector<QexBlock> blocks;
    size_t pos = 4;

    while (pos + 8 <= image.size)
    {
        const auto address = bigEndian32 (image, pos);
        const auto length = bigEndian32 (image, pos + 4);
        pos += 8;

        if (length > image.size - pos)
            break;

        blocks.push_back ({address, length, image.data + pos});
        pos += length;
    }

    return blocks;
}

bool isErased (const std::uint8_t* chunk, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (chunk[i] != 0xFF)
            return false;

    return true;
}

TEST (ResourcesQexImage, HasTheHeaderAndTheSixBlocksOfTheFlashMap)
{
    const auto image = bytesOf (BinaryData::qexImage_bin, BinaryData::qexImage_binSize);
    ASSERT_EQ (image.size, 393268u);
    EXPECT_EQ (image[0], 0x00);
    EXPECT_EQ (image[1], 0x1B);
    EXPECT_EQ (image[2], 0x00);
    EXPECT_EQ (image[3], 0x02);

    const std::array<std::uint32_t, 6> addresses{0x00000, 0x10000, 0x20000, 0x30000, 0x60000, 0xE0000};
    const auto blocks = qexBlocks (image);
    ASSERT_EQ (blocks.size(), addresses.size());

    size_t end = 4;

    for (size_t i = 0; i < blocks.size(); ++i)
    {
        EXPECT_EQ (blocks[i].address, addresses[i]) << "block " << i;
        EXPECT_EQ (blocks[i].length, 0x10000u) << "block " << i;
        end += 8 + blocks[i].length;
    }

    EXPECT_EQ (end, image.size) << "blocks must run exactly to the end";
}

TEST (ResourcesQexImage, SendsItsChunksByTheTransferRuleAndLooksLikeFirmware)
{
    const auto blocks = qexBlocks (bytesOf (BinaryData::qexImage_bin, BinaryData::qexImage_binSize));
    ASSERT_EQ (blocks.size(), 6u);

    int chunks = 0;
    int sent = 0;
    int erasedFirstChunks = 0;
    int highBytes = 0;
    int sentChunksHoldingFF = 0;
    int islandsAfterErasedSpace = 0;

    for (const auto& block : blocks)
    {
        bool previousErased = false;

        for (size_t offset = 0; offset < block.length; offset += qexChunkSize)
        {
            const auto* chunk = block.data + offset;
            const bool erased = isErased (chunk, qexChunkSize);
            bool holdsFF = false;

            for (size_t i = 0; i < qexChunkSize; ++i)
            {
                highBytes += (chunk[i] >= 0x80 && chunk[i] != 0xFF) ? 1 : 0;
                holdsFF = holdsFF || chunk[i] == 0xFF;
            }

            ++chunks;
            sent += (offset == 0 || ! erased) ? 1 : 0;
            erasedFirstChunks += (offset == 0 && erased) ? 1 : 0;

            if (! erased)
            {
                sentChunksHoldingFF += holdsFF ? 1 : 0;
                islandsAfterErasedSpace += (offset > 0 && previousErased) ? 1 : 0;
            }

            previousErased = erased;
        }
    }

    EXPECT_EQ (chunks, 1536);
    EXPECT_EQ (sent, 831);
    // The first chunk of a block goes out even when erased; the image must exercise that.
    EXPECT_GE (erasedFirstChunks, 1);
    // Bytes of 0x80 and above must survive the 7-bit packing; FF inside a chunk is not erased space.
    EXPECT_GT (highBytes, 10000);
    EXPECT_GT (sentChunksHoldingFF, 0);
    EXPECT_GT (islandsAfterErasedSpace, 0);
}

//==============================================================================
// The built-in DSP image

struct DspType
{
    int check;
    size_t length;
    int count;
};

std::vector<std::pair<size_t, size_t>> dspMessages (const Bytes& image, std::string& problem)
{
    std::vector<std::pair<size_t, size_t>> messages; // offset, length
    size_t pos = 0;

    while (pos < image.size)
    {
        if (image[pos] != 0xF0)
        {
            problem = "byte outside a message at offset " + std::to_string (pos);
            return messages;
        }

        size_t end = pos + 1;

        while (end < image.size && image[end] < 0x80)
            ++end;

        if (end == image.size || image[end] != 0xF7)
        {
            problem = "message at offset " + std::to_string (pos) + " is not closed by F7";
            return messages;
        }

        messages.emplace_back (pos, end + 1 - pos);
        pos = end + 1;
    }

    return messages;
}

TEST (ResourcesDspImage, Is3605AdjacentMessagesWithTheHeaderCheckLengthAndCountOfTheirTypes)
{
    const auto image = bytesOf (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize);
    ASSERT_EQ (image.size, 537338u);

    std::string problem;
    const auto messages = dspMessages (image, problem);
    ASSERT_EQ (problem, "");
    ASSERT_EQ (messages.size(), 3605u);

    const std::map<int, DspType> types{{0x00, {0x57, 18, 21}}, {0x7F, {0x58, 163, 3256}}, {0x01, {0x56, 19, 328}}};
    const std::uint8_t prefix[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59};
    std::map<int, int> counts;
    std::vector<int> order;

    for (const auto& [offset, length] : messages)
    {
        ASSERT_GE (length, 11u) << "message at " << offset;
        const auto* m = image.data + offset;
        ASSERT_EQ (std::memcmp (m, prefix, sizeof (prefix)), 0) << "message at " << offset;

        const int type = m[8];
        const auto known = types.find (type);
        ASSERT_NE (known, types.end()) << "type " << type << " at " << offset;

        EXPECT_EQ (m[9], known->second.check) << "message at " << offset;
        EXPECT_EQ (length, known->second.length) << "message at " << offset;

        int sum = 0;
        for (size_t i = 1; i <= 9; ++i)
            sum += m[i];
        EXPECT_EQ (sum % 0x80, 0x7F) << "header sum of message at " << offset;

        ++counts[type];
        order.push_back (type);
    }

    for (const auto& [type, expected] : types)
        EXPECT_EQ (counts[type], expected.count) << "type " << type;

    // Three headers open it, exactly 61 type-01 messages close it, and the data messages are
    // broken up by the other types rather than stored in one stretch.
    EXPECT_EQ (std::vector<int> (order.begin(), order.begin() + 3), (std::vector<int>{0x00, 0x00, 0x00}));
    EXPECT_NE (order[3], 0x00);
    size_t run = 0;
    while (run < order.size() && order[order.size() - 1 - run] == 0x01)
        ++run;
    EXPECT_EQ (run, 61u);

    int typeChanges = 0;
    for (size_t i = 1; i < order.size(); ++i)
        typeChanges += order[i] != order[i - 1] ? 1 : 0;
    EXPECT_GT (typeChanges, 100);
}
} // namespace
