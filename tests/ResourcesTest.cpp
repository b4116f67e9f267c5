// The embedded pictures and firmware images come from tools/make_resources.py. The look and feel,
// the main window and the two transfers rely on their sizes, formats and layout, so those traits
// are checked here on the bytes that are actually linked into the program.

#include <juce_core/juce_core.h>
#include <juce_graphics/juce_graphics.h>

#include "BinaryData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
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

std::string rgbText (juce::Colour colour)
{
    return colour.toDisplayString (false).toStdString();
}

int brightness (juce::Colour colour)
{
    return colour.getRed() + colour.getGreen() + colour.getBlue();
}

// Largest per-channel distance between a pixel and an 0xRRGGBB value.
int channelDistance (juce::Colour colour, std::uint32_t rgb)
{
    const int r = static_cast<int> ((rgb >> 16) & 0xFF);
    const int g = static_cast<int> ((rgb >> 8) & 0xFF);
    const int b = static_cast<int> (rgb & 0xFF);
    return std::max ({std::abs (colour.getRed() - r), std::abs (colour.getGreen() - g), std::abs (colour.getBlue() - b)});
}

// Mean colour of a small patch, so that the brushed-metal streaks do not decide a comparison.
juce::Colour patchMean (const juce::Image& image, int x0, int y0, int size)
{
    int sum[3] = {};
    for (int y = y0; y < y0 + size; ++y)
    {
        for (int x = x0; x < x0 + size; ++x)
        {
            const auto c = image.getPixelAt (x, y);
            sum[0] += c.getRed();
            sum[1] += c.getGreen();
            sum[2] += c.getBlue();
        }
    }

    const int n = size * size;
    auto mean = [n] (int total)
    { return static_cast<juce::uint8> (total / n); };
    return juce::Colour (mean (sum[0]), mean (sum[1]), mean (sum[2]));
}

struct Picture
{
    const char* name;
    const char* data;
    int size;
    int width;
    int height;
    int pngColourType; // 2 = RGB, 6 = RGBA, -1 for the JPEG
};

// Built on demand: the BinaryData pointers live in another translation unit.
std::vector<Picture> pictures()
{
    return {
        {"background.png", BinaryData::background_png, BinaryData::background_pngSize, 1356, 836, 2},
        {"windowIcon.jpg", BinaryData::windowIcon_jpg, BinaryData::windowIcon_jpgSize, 32, 32, -1},
        {"alertBackground.png", BinaryData::alertBackground_png, BinaryData::alertBackground_pngSize, 928, 270, 6},
        {"progressTrack.png", BinaryData::progressTrack_png, BinaryData::progressTrack_pngSize, 278, 20, 2},
        {"progressFill.png", BinaryData::progressFill_png, BinaryData::progressFill_pngSize, 1, 20, 2},
        {"appIcon.png", BinaryData::appIcon_png, BinaryData::appIcon_pngSize, 256, 256, 6},
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

TEST (ResourcesPictures, PngHeadersAreEightBitNonInterlacedWithTheListedColourType)
{
    static const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

    for (const auto& picture : pictures())
    {
        if (picture.pngColourType < 0)
            continue;

        SCOPED_TRACE (picture.name);
        const auto png = bytesOf (picture.data, picture.size);
        ASSERT_GT (png.size, 33u);
        EXPECT_EQ (std::memcmp (png.data, signature, sizeof (signature)), 0);
        EXPECT_EQ (bigEndian32 (png, 8), 13u);
        EXPECT_EQ (std::memcmp (png.data + 12, "IHDR", 4), 0);
        EXPECT_EQ (bigEndian32 (png, 16), static_cast<std::uint32_t> (picture.width));
        EXPECT_EQ (bigEndian32 (png, 20), static_cast<std::uint32_t> (picture.height));
        EXPECT_EQ (png[24], 8) << "bit depth";
        EXPECT_EQ (png[25], picture.pngColourType) << "colour type";
        EXPECT_EQ (png[26], 0) << "compression";
        EXPECT_EQ (png[27], 0) << "filter method";
        EXPECT_EQ (png[28], 0) << "interlace";
    }
}

TEST (ResourcesPictures, WindowIconIsBaselineJfif101At96DpiWithThreeComponents)
{
    const auto jpeg = bytesOf (BinaryData::windowIcon_jpg, BinaryData::windowIcon_jpgSize);
    ASSERT_GT (jpeg.size, 20u);

    EXPECT_EQ (jpeg[0], 0xFF);
    EXPECT_EQ (jpeg[1], 0xD8) << "SOI";
    EXPECT_EQ (jpeg[2], 0xFF);
    EXPECT_EQ (jpeg[3], 0xE0) << "APP0 right after SOI";
    EXPECT_GE (bigEndian16 (jpeg, 4), 16u);
    EXPECT_EQ (std::memcmp (jpeg.data + 6, "JFIF\0", 5), 0);
    EXPECT_EQ (jpeg[11], 1) << "JFIF major version";
    EXPECT_EQ (jpeg[12], 1) << "JFIF minor version";
    EXPECT_EQ (jpeg[13], 1) << "density in dots per inch";
    EXPECT_EQ (bigEndian16 (jpeg, 14), 96u);
    EXPECT_EQ (bigEndian16 (jpeg, 16), 96u);
    EXPECT_EQ (jpeg[jpeg.size - 2], 0xFF);
    EXPECT_EQ (jpeg[jpeg.size - 1], 0xD9) << "EOI";

    // Walk the marker segments up to the scan; the first frame header decides the coding process.
    int frameMarker = -1;
    bool reachedScan = false;
    size_t frame = 0;

    for (size_t pos = 2; pos + 4 <= jpeg.size;)
    {
        ASSERT_EQ (jpeg[pos], 0xFF) << "at offset " << pos;
        const int marker = jpeg[pos + 1];

        if (marker == 0xDA)
        {
            reachedScan = true;
            break;
        }

        const bool isFrameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;

        if (isFrameHeader && frameMarker < 0)
        {
            frameMarker = marker;
            frame = pos + 4;
        }

        pos += 2 + bigEndian16 (jpeg, pos + 2);
    }

    ASSERT_TRUE (reachedScan);
    ASSERT_EQ (frameMarker, 0xC0) << "baseline DCT (SOF0)";
    EXPECT_EQ (jpeg[frame], 8) << "sample precision";
    EXPECT_EQ (bigEndian16 (jpeg, frame + 1), 32u);
    EXPECT_EQ (bigEndian16 (jpeg, frame + 3), 32u);
    EXPECT_EQ (jpeg[frame + 5], 3) << "components";
}

//==============================================================================
// Pictures: the traits that the drawing relies on

TEST (ResourcesPictures, ProgressFillHasItsAnchorColoursAndDarkensThenLightens)
{
    const auto fill = decode (BinaryData::progressFill_png, BinaryData::progressFill_pngSize);
    ASSERT_EQ (fill.getHeight(), 20);

    const std::map<int, std::string> anchors{{0, "999999"}, {1, "F1F0FB"}, {11, "4F4EAA"}, {18, "9F9CE2"}, {19, "999999"}};

    for (const auto& [row, expected] : anchors)
        EXPECT_EQ (rgbText (fill.getPixelAt (0, row)), expected) << "row " << row;

    for (int row = 1; row < 11; ++row)
        EXPECT_LT (brightness (fill.getPixelAt (0, row + 1)), brightness (fill.getPixelAt (0, row))) << "row " << row + 1;

    for (int row = 11; row < 18; ++row)
        EXPECT_GT (brightness (fill.getPixelAt (0, row + 1)), brightness (fill.getPixelAt (0, row))) << "row " << row + 1;
}

TEST (ResourcesPictures, ProgressTrackHasAGreyFrameAWhiteUpperHalfAndABluishLowerBand)
{
    const auto track = decode (BinaryData::progressTrack_png, BinaryData::progressTrack_pngSize);
    ASSERT_EQ (track.getWidth(), 278);
    ASSERT_EQ (track.getHeight(), 20);

    for (int y = 0; y < 20; ++y)
    {
        for (int x = 0; x < 278; ++x)
        {
            const auto c = track.getPixelAt (x, y);

            if (y == 0 || y == 19 || x == 0 || x == 277)
            {
                EXPECT_TRUE (c.getRed() == c.getGreen() && c.getGreen() == c.getBlue() && c.getRed() >= 0x99 && c.getRed() <= 0x9D)
                    << "frame pixel " << x << "," << y << " is " << rgbText (c);
            }
            else if (y <= 9)
            {
                EXPECT_GE (std::min ({c.getRed(), c.getGreen(), c.getBlue()}), 0xF0) << x << "," << y;
            }
            else if (y <= 17)
            {
                EXPECT_GE (c.getBlue() - c.getRed(), 8) << x << "," << y;
                EXPECT_LT (brightness (c), brightness (track.getPixelAt (x, 9))) << x << "," << y;
            }
        }
    }

    EXPECT_LT (brightness (track.getPixelAt (100, 18)), brightness (track.getPixelAt (100, 17)));
    EXPECT_LE (channelDistance (track.getPixelAt (100, 18), 0xDEE1E6), 4);
}

TEST (ResourcesPictures, BackgroundBottomRowsAndRightEdgeAreTheWindowColour)
{
    const auto background = decode (BinaryData::background_png, BinaryData::background_pngSize);
    ASSERT_EQ (background.getWidth(), 1356);
    ASSERT_EQ (background.getHeight(), 836);

    int worst = 0;

    for (int y = 836 - 40; y < 836; ++y)
        for (int x = 0; x < 1356; ++x)
            worst = std::max (worst, channelDistance (background.getPixelAt (x, y), 0x918F8F));

    for (int y = 0; y < 836; ++y)
        for (int x = 1356 - 40; x < 1356; ++x)
            worst = std::max (worst, channelDistance (background.getPixelAt (x, y), 0x918F8F));

    EXPECT_LE (worst, 1);
}

TEST (ResourcesPictures, BackgroundIsNearlyWhiteTopLeftAndDarkensRightAndDown)
{
    const auto background = decode (BinaryData::background_png, BinaryData::background_pngSize);
    ASSERT_TRUE (background.isValid());

    const auto topLeft = patchMean (background, 0, 0, 8);
    EXPECT_LE (channelDistance (topLeft, 0xEDECEA), 8) << rgbText (topLeft);

    EXPECT_GT (brightness (topLeft), brightness (patchMean (background, 392, 0, 8)));
    EXPECT_GT (brightness (patchMean (background, 392, 0, 8)), brightness (patchMean (background, 1000, 0, 8)));
    EXPECT_GT (brightness (topLeft), brightness (patchMean (background, 0, 192, 8)));
    EXPECT_GT (brightness (patchMean (background, 0, 192, 8)), brightness (patchMean (background, 0, 600, 8)));
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

TEST (ResourcesPictures, AlertBackgroundIsOpaqueAndFadesFromLightGreyToTheRight)
{
    const auto alert = decode (BinaryData::alertBackground_png, BinaryData::alertBackground_pngSize);
    ASSERT_EQ (alert.getWidth(), 928);
    ASSERT_EQ (alert.getHeight(), 270);

    int translucent = 0;

    for (int y = 0; y < alert.getHeight(); ++y)
        for (int x = 0; x < alert.getWidth(); ++x)
            translucent += alert.getPixelAt (x, y).getAlpha() != 0xFF ? 1 : 0;

    EXPECT_EQ (translucent, 0);

    const auto topLeft = patchMean (alert, 0, 0, 6);
    const auto rightEdge = patchMean (alert, 922, 132, 6);
    const auto bottomLeft = patchMean (alert, 0, 264, 6);
    EXPECT_LE (channelDistance (topLeft, 0xEBEAE8), 8) << rgbText (topLeft);
    EXPECT_LE (channelDistance (rightEdge, 0x959394), 8) << rgbText (rightEdge);
    EXPECT_LE (channelDistance (bottomLeft, 0xCDCCCA), 8) << rgbText (bottomLeft);

    for (int x = 0; x + 100 < 922; x += 100)
        EXPECT_GT (brightness (patchMean (alert, x, 100, 6)), brightness (patchMean (alert, x + 100, 100, 6))) << "x " << x;
}

TEST (ResourcesPictures, WindowIconShowsARightArrowAboveALeftArrowOnDarkBlue)
{
    const auto icon = decode (BinaryData::windowIcon_jpg, BinaryData::windowIcon_jpgSize);
    ASSERT_EQ (icon.getWidth(), 32);

    for (const auto& corner : {juce::Point<int> (0, 0), juce::Point<int> (31, 0), juce::Point<int> (0, 31), juce::Point<int> (31, 31)})
    {
        const auto c = icon.getPixelAt (corner.x, corner.y);
        EXPECT_TRUE (c.getBlue() > c.getRed() + 30 && brightness (c) < 300) << "ground " << rgbText (c);
    }

    // An arrow head is the tallest light part of its arrow, so it gives the direction.
    auto tallestLightColumn = [&icon] (int firstRow, int lastRow)
    {
        int bestColumn = -1;
        int bestCount = 0;

        for (int x = 0; x < 32; ++x)
        {
            int count = 0;

            for (int y = firstRow; y <= lastRow; ++y)
                count += brightness (icon.getPixelAt (x, y)) > 600 ? 1 : 0;

            if (count > bestCount)
            {
                bestCount = count;
                bestColumn = x;
            }
        }

        return bestColumn;
    };

    EXPECT_GE (tallestLightColumn (0, 15), 16) << "upper arrow points right";
    EXPECT_LT (tallestLightColumn (16, 31), 16) << "lower arrow points left";
}

TEST (ResourcesPictures, AppIconIsAnOpaqueBlueDiscOnTransparency)
{
    const auto icon = decode (BinaryData::appIcon_png, BinaryData::appIcon_pngSize);
    ASSERT_EQ (icon.getWidth(), 256);

    EXPECT_EQ (icon.getPixelAt (0, 0).getAlpha(), 0);
    EXPECT_EQ (icon.getPixelAt (255, 255).getAlpha(), 0);

    const auto centre = icon.getPixelAt (128, 128);
    EXPECT_EQ (centre.getAlpha(), 0xFF);
    EXPECT_GT (centre.getBlue(), centre.getRed() + 50) << rgbText (centre);
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

TEST (ResourcesQexImage, TransferRuleSends831ChunksCountingEveryFirstChunk)
{
    const auto blocks = qexBlocks (bytesOf (BinaryData::qexImage_bin, BinaryData::qexImage_binSize));
    ASSERT_EQ (blocks.size(), 6u);

    int chunks = 0;
    int sent = 0;
    int notErased = 0;
    int erasedFirstChunks = 0;

    for (const auto& block : blocks)
    {
        for (size_t offset = 0; offset < block.length; offset += qexChunkSize)
        {
            const bool erased = isErased (block.data + offset, qexChunkSize);
            ++chunks;

            if (offset == 0 || ! erased)
                ++sent;

            if (! erased)
                ++notErased;

            if (offset == 0 && erased)
                ++erasedFirstChunks;
        }
    }

    EXPECT_EQ (chunks, 1536);
    EXPECT_EQ (sent, 831);
    // The first chunk of a block goes out even when erased; the image must exercise that.
    EXPECT_GE (erasedFirstChunks, 1);
    EXPECT_EQ (notErased + erasedFirstChunks, sent);
}

TEST (ResourcesQexImage, DataLooksLikeFirmwareWithErasedSpaceAndDataIslands)
{
    const auto blocks = qexBlocks (bytesOf (BinaryData::qexImage_bin, BinaryData::qexImage_binSize));
    ASSERT_EQ (blocks.size(), 6u);

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

            if (! erased)
            {
                sentChunksHoldingFF += holdsFF ? 1 : 0;
                islandsAfterErasedSpace += (offset > 0 && previousErased) ? 1 : 0;
            }

            previousErased = erased;
        }
    }

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

TEST (ResourcesDspImage, IsExactly3605AdjacentSysexMessages)
{
    const auto image = bytesOf (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize);
    ASSERT_EQ (image.size, 537338u);

    std::string problem;
    const auto messages = dspMessages (image, problem);
    EXPECT_EQ (problem, "");
    EXPECT_EQ (messages.size(), 3605u);

    size_t longest = 0;

    for (const auto& message : messages)
        longest = std::max (longest, message.second);

    EXPECT_EQ (longest, 163u);
}

TEST (ResourcesDspImage, EveryMessageHasTheHeaderCheckLengthAndCountOfItsType)
{
    const auto image = bytesOf (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize);
    std::string problem;
    const auto messages = dspMessages (image, problem);
    ASSERT_EQ (problem, "");

    const std::map<int, DspType> types{{0x00, {0x57, 18, 21}}, {0x7F, {0x58, 163, 3256}}, {0x01, {0x56, 19, 328}}};
    const std::uint8_t prefix[] = {0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59};
    std::map<int, int> counts;

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
    }

    for (const auto& [type, expected] : types)
        EXPECT_EQ (counts[type], expected.count) << "type " << type;
}

TEST (ResourcesDspImage, OpensWithThreeHeadersAndEndsWithExactly61Type01)
{
    const auto image = bytesOf (BinaryData::dspImage_syx, BinaryData::dspImage_syxSize);
    std::string problem;
    const auto messages = dspMessages (image, problem);
    ASSERT_EQ (messages.size(), 3605u);

    std::vector<int> types;

    for (const auto& message : messages)
        types.push_back (image[message.first + 8]);

    EXPECT_EQ (types[0], 0x00);
    EXPECT_EQ (types[1], 0x00);
    EXPECT_EQ (types[2], 0x00);
    EXPECT_NE (types[3], 0x00);

    size_t run = 0;

    while (run < types.size() && types[types.size() - 1 - run] == 0x01)
        ++run;

    EXPECT_EQ (run, 61u);

    // Interleaved: data messages are broken up by the other types, not stored in one stretch.
    int typeChanges = 0;

    for (size_t i = 1; i < types.size(); ++i)
        typeChanges += types[i] != types[i - 1] ? 1 : 0;

    EXPECT_GT (typeChanges, 100);
}
} // namespace
