#include "TestSupport.h"

#include <BinaryData.h>

using namespace zelvor;
using namespace zelvor::test;

namespace
{
class QexImage : public WithVirtualMidi
{
protected:
    bool load (const Bytes& bytes)
    {
        TempImageFile file (bytes);
        return link.loadQexImageFile (file.file());
    }

    FirmwareManager link;
};

using DspImage = QexImage;
} // namespace

TEST_F (QexImage, BuiltInImageParsesIntoSixBlocksOfTheUnitsRegions)
{
    link.loadBuiltInQexImage();
    ASSERT_TRUE (link.qexImageValid.load());
    ASSERT_EQ (link.qexImageStream->getTotalLength(), 393268);
    ASSERT_EQ (link.imageBlocks.size(), 6u);

    const std::uint32_t addresses[] = {0x00000, 0x10000, 0x20000, 0x30000, 0x60000, 0xE0000};
    size_t total = 0;
    for (size_t i = 0; i < 6; ++i)
    {
        EXPECT_EQ (link.imageBlocks[i].address, addresses[i]);
        EXPECT_EQ (link.imageBlocks[i].length, 0x10000u);
        EXPECT_EQ (link.imageBlocks[i].data.size(), 0x10000u);
        total += link.imageBlocks[i].data.size();
    }
    EXPECT_EQ (total, 393216u);

    // The blocks carry the image's bytes, not a copy of some other region.
    const auto* raw = reinterpret_cast<const std::uint8_t*> (BinaryData::qexImage_bin);
    EXPECT_TRUE (std::equal (link.imageBlocks[5].data.begin(), link.imageBlocks[5].data.end(), raw + 4 + 5 * (8 + 0x10000) + 8));
}

TEST_F (QexImage, HeaderOnlyAndUncheckedHeaderBytes)
{
    EXPECT_TRUE (load ({0x00, 0x1B, 0x00, 0x02}));
    EXPECT_TRUE (link.imageBlocks.empty());

    QexImageBuilder image;
    image.bytes = {0x7F, 0x1B, 0x55, 0x02};
    image.block (0x10000, Bytes (16, 0xAB));
    EXPECT_TRUE (load (image.bytes));
    ASSERT_EQ (link.imageBlocks.size(), 1u);
    EXPECT_EQ (link.imageBlocks[0].address, 0x10000u);
    EXPECT_EQ (link.imageBlocks[0].data, Bytes (16, 0xAB));
}

TEST_F (QexImage, WrongModelBytesInvalidateButKeepTheOldBlocks)
{
    ASSERT_TRUE (load (QexImageBuilder().block (0, Bytes (8, 1)).bytes));
    ASSERT_EQ (link.imageBlocks.size(), 1u);

    EXPECT_FALSE (load ({0x00, 0x1C, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 1, 7}));
    EXPECT_FALSE (link.qexImageValid.load());
    EXPECT_EQ (link.imageBlocks.size(), 1u);

    EXPECT_FALSE (load ({0x00, 0x1B, 0x00, 0x03}));
    EXPECT_FALSE (load ({0x00, 0x1B, 0x00})); // too short: the fourth byte reads as 0
    EXPECT_FALSE (load ({}));
}

TEST_F (QexImage, ShortLastBlockAndStrayBytesAreDropped)
{
    auto truncated = QexImageBuilder().block (0x00000, Bytes (32, 1)).block (0x10000, 0x10000, Bytes (100, 2)).bytes;
    EXPECT_TRUE (load (truncated));
    ASSERT_EQ (link.imageBlocks.size(), 1u);
    EXPECT_EQ (link.imageBlocks[0].address, 0u);

    for (int stray = 1; stray <= 3; ++stray)
    {
        auto image = QexImageBuilder().block (0x20000, Bytes (10, 3)).bytes;
        image.insert (image.end(), (size_t) stray, 0xEE);
        EXPECT_TRUE (load (image)) << stray;
        EXPECT_EQ (link.imageBlocks.size(), 1u) << stray;
    }
}

TEST_F (QexImage, HugeDeclaredLengthEndsTheParseWithoutAllocating)
{
    auto image = QexImageBuilder().block (0x30000, Bytes (4, 9)).block (0x40000, 0xFFFFFFFFu, Bytes (64, 5)).bytes;
    EXPECT_TRUE (load (image));
    ASSERT_EQ (link.imageBlocks.size(), 1u);
    EXPECT_EQ (link.imageBlocks[0].address, 0x30000u);
}

TEST_F (QexImage, ZeroLengthBlocksStayAndSeventeenBlocksParse)
{
    EXPECT_TRUE (load (QexImageBuilder().block (0x10000, {}).block (0x20000, Bytes (3, 1)).bytes));
    ASSERT_EQ (link.imageBlocks.size(), 2u);
    EXPECT_EQ (link.imageBlocks[0].length, 0u);

    QexImageBuilder many;
    for (std::uint32_t i = 0; i < 17; ++i)
        many.block (i * 0x10000, Bytes (2, (std::uint8_t) i));
    EXPECT_TRUE (load (many.bytes));
    EXPECT_EQ (link.imageBlocks.size(), 17u);
}

TEST_F (QexImage, MissingDirectoryOrOversizedFileChangesNothing)
{
    link.loadBuiltInQexImage();
    ASSERT_TRUE (link.qexImageValid.load());
    auto* before = link.qexImageStream.get();

    EXPECT_FALSE (link.loadQexImageFile (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("no-such-image.bin")));
    EXPECT_FALSE (link.loadQexImageFile (juce::File::getSpecialLocation (juce::File::tempDirectory)));

    auto huge = QexImageBuilder().block (0, Bytes ((size_t) FirmwareManager::maxImageFileSize, 0x11)).bytes;
    EXPECT_FALSE (load (huge));

    EXPECT_EQ (link.qexImageStream.get(), before);
    EXPECT_TRUE (link.qexImageValid.load());
    EXPECT_EQ (link.imageBlocks.size(), 6u);
}

TEST_F (DspImage, BuiltInImageAndFilesAreSelected)
{
    EXPECT_TRUE (link.loadBuiltInDspImage());
    EXPECT_TRUE (link.dspImageLoaded.load());
    EXPECT_EQ (link.dspImageStream->getTotalLength(), 537338);

    const Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x00, 0x57, 0x01, 0xF7};
    TempImageFile file (message, ".syx");
    ASSERT_TRUE (link.loadDspImageFile (file.file()));
    EXPECT_EQ (link.dspImageStream->getTotalLength(), (juce::int64) message.size());
}

TEST_F (DspImage, MessagesLongerThanTheSendBufferAreRefused)
{
    link.loadBuiltInDspImage();
    auto* before = link.dspImageStream.get();

    Bytes fits{0xF0};
    fits.insert (fits.end(), 254, 0x01);
    fits.push_back (0xF7);
    TempImageFile ok (fits, ".syx");
    EXPECT_TRUE (link.loadDspImageFile (ok.file()));

    Bytes tooLong{0xF0};
    tooLong.insert (tooLong.end(), 255, 0x01);
    tooLong.push_back (0xF7);
    TempImageFile bad (tooLong, ".syx");
    auto* current = link.dspImageStream.get();
    EXPECT_FALSE (link.loadDspImageFile (bad.file()));
    EXPECT_EQ (link.dspImageStream.get(), current);
    EXPECT_NE (current, before);

    // An unterminated last message is allowed at load (it is simply not sent).
    Bytes unterminated{0xF0, 0x00, 0x01};
    TempImageFile open (unterminated, ".syx");
    EXPECT_TRUE (link.loadDspImageFile (open.file()));
}
