// The embedded pictures and firmware images come from tools/make_resources.py. The look and feel,
// the main window and the two transfers rely on their sizes and layout, so those are checked here
// on the bytes that are actually linked into the program.

#include <juce_core/juce_core.h>
#include <juce_graphics/juce_graphics.h>

#include "BinaryData.h"
#include "link/DspMessageReader.h"
#include "link/FirmwareManager.h"
#include "link/Protocol.h"

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
// The built-in firmware images, read with the program's own readers: what the tests and the
// demo rely on (their layout and size) and the edge cases they must exercise.

TEST (ResourcesFirmwareImages, QexIsTheSixFlashMapBlocksAndExercisesTheChunkRule)
{
    const auto image = zelvor::QexImage::builtIn();
    ASSERT_EQ (image.problem(), "");
    const auto& blocks = image.blocks();

    const std::array<std::uint32_t, 6> addresses{0x00000, 0x10000, 0x20000, 0x30000, 0x60000, 0xE0000};
    ASSERT_EQ (blocks.size(), addresses.size());
    int sent = 0, erasedFirstChunks = 0, highBytes = 0, sentChunksHoldingFF = 0, islandsAfterErasedSpace = 0;
    for (size_t b = 0; b < blocks.size(); ++b)
    {
        EXPECT_EQ (blocks[b].address, addresses[b]) << "block " << b;
        ASSERT_EQ (blocks[b].length, 0x10000u) << "block " << b;
        bool previousErased = false;
        for (size_t offset = 0; offset < blocks[b].length; offset += zelvor::Protocol::chunkSize)
        {
            const auto* chunk = blocks[b].data.data() + offset;
            const auto* end = chunk + zelvor::Protocol::chunkSize;
            const bool erased = std::all_of (chunk, end, [] (std::uint8_t x) { return x == 0xFF; });
            highBytes += (int) std::count_if (chunk, end, [] (std::uint8_t x) { return x >= 0x80 && x != 0xFF; });
            // The first chunk of a block goes out even when erased.
            sent += (offset == 0 || ! erased) ? 1 : 0;
            erasedFirstChunks += (offset == 0 && erased) ? 1 : 0;
            if (! erased)
            {
                sentChunksHoldingFF += std::find (chunk, end, 0xFF) != end ? 1 : 0;
                islandsAfterErasedSpace += (offset > 0 && previousErased) ? 1 : 0;
            }
            previousErased = erased;
        }
    }
    EXPECT_EQ (sent, 831);
    EXPECT_GE (erasedFirstChunks, 1);
    // Bytes of 0x80 and above must survive the 7-bit packing; FF inside a chunk is not erased space.
    EXPECT_GT (highBytes, 10000);
    EXPECT_GT (sentChunksHoldingFF, 0);
    EXPECT_GT (islandsAfterErasedSpace, 0);
}

TEST (ResourcesFirmwareImages, DspIs3605MessagesWithTheHeaderCheckLengthAndCountOfTheirTypes)
{
    juce::MemoryInputStream stream (BinaryData::dspImage_syx, (size_t) BinaryData::dspImage_syxSize, false);
    ASSERT_EQ (zelvor::checkDspImage (stream, zelvor::Protocol::dspMessageBufferSize), "");
    stream.setPosition (0);

    struct Type
    {
        int check;
        int length;
        int count;
    };
    const std::map<int, Type> types{{0x00, {0x57, 18, 21}}, {0x7F, {0x58, 163, 3256}}, {0x01, {0x56, 19, 328}}};
    const std::uint8_t prefix[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59};
    std::map<int, int> counts;
    std::vector<int> order;
    std::uint8_t m[zelvor::Protocol::dspMessageBufferSize];
    int length = 0, bytes = 0;
    while (zelvor::readDspMessage (stream, m, (int) sizeof (m), length) == zelvor::DspReadResult::message)
    {
        bytes += length;
        ASSERT_GE (length, 11) << "message " << order.size();
        ASSERT_EQ (std::memcmp (m, prefix, sizeof (prefix)), 0) << "message " << order.size();
        const auto known = types.find (m[8]);
        ASSERT_NE (known, types.end()) << "type " << (int) m[8] << " of message " << order.size();
        EXPECT_EQ (m[9], known->second.check) << "message " << order.size();
        EXPECT_EQ (length, known->second.length) << "message " << order.size();
        int sum = 0;
        for (int i = 1; i <= 9; ++i)
            sum += m[i];
        EXPECT_EQ (sum % 0x80, 0x7F) << "header sum of message " << order.size();
        ++counts[m[8]];
        order.push_back (m[8]);
    }
    // Adjacent messages, nothing between them.
    EXPECT_EQ (bytes, BinaryData::dspImage_syxSize);
    ASSERT_EQ (order.size(), 3605u);
    for (const auto& [type, expected] : types)
        EXPECT_EQ (counts[type], expected.count) << "type " << type;

    // Three headers open it, exactly 61 type-01 messages close it, and the data messages are
    // broken up by the other types rather than stored in one stretch.
    EXPECT_EQ (std::vector<int> (order.begin(), order.begin() + 3), (std::vector<int>{0x00, 0x00, 0x00}));
    EXPECT_NE (order[3], 0x00);
    const auto lastOther = std::find_if (order.rbegin(), order.rend(), [] (int t) { return t != 0x01; });
    EXPECT_EQ (lastOther - order.rbegin(), 61);
    int typeChanges = 0;
    for (size_t i = 1; i < order.size(); ++i)
        typeChanges += order[i] != order[i - 1] ? 1 : 0;
    EXPECT_GT (typeChanges, 100);
}
} // namespace
