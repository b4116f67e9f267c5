#include "TestSupport.h"

#include "link/DspMessageReader.h"

#include <BinaryData.h>

#if ! JUCE_WINDOWS
 #include <sys/stat.h>
#endif

using namespace zelvor;
using namespace zelvor::test;

namespace
{
Bytes builtInQexImage()
{
    const auto* data = reinterpret_cast<const std::uint8_t*> (BinaryData::qexImage_bin);
    return {data, data + BinaryData::qexImage_binSize};
}

Bytes region (std::uint8_t fill, size_t size = 0x10000)
{
    return Bytes (size, fill);
}

struct ImageCase
{
    const char* what;
    Bytes bytes;
};

QexImage qexImageOf (const Bytes& bytes)
{
    return QexImage::fromBytes (bytes.data(), bytes.size());
}

DspImage dspImageOf (const Bytes& bytes)
{
    return DspImage::fromBytes (bytes.data(), bytes.size());
}

// Files are read by the link, which keeps the one image of each kind it is to write.
class ImageFile : public WithVirtualMidi
{
protected:
    FirmwareManager link;
};
} // namespace

TEST (QexImageBytes, WritableImagesAreAccepted)
{
    Bytes spanning = region (0x01, 0x20000);
    auto unchecked = QexImageBuilder().block (0x60000, region (0x02)).bytes;
    unchecked[0] = 0x7F; // only bytes 1 and 3 of the header are checked
    unchecked[2] = 0x55;

    const ImageCase accepted[] = {
        {"the built-in image", builtInQexImage()},
        {"a block over two regions that follow each other", QexImageBuilder().block (0x00000, spanning).bytes},
        {"unchecked header bytes", unchecked},
        {"blocks out of address order",
         QexImageBuilder().block (0xE0000, region (3)).block (0x00000, region (4)).bytes},
    };

    for (const auto& c : accepted)
    {
        const auto image = qexImageOf (c.bytes);
        EXPECT_TRUE (image.isUsable()) << c.what << ": " << image.problem();
        EXPECT_FALSE (image.blocks().empty()) << c.what;
    }
    const auto outOfOrder = qexImageOf (accepted[3].bytes);
    ASSERT_EQ (outOfOrder.blocks().size(), 2u);
    EXPECT_EQ (outOfOrder.blocks()[0].address, 0xE0000u); // file order is kept
    EXPECT_EQ (outOfOrder.blocks()[1].data, region (4));
}

// Every one of these would leave the unit's flash holding something other than the file: a
// region erased and never written, two blocks over the same bytes, or a block the unit cannot
// take. They are refused when read, before anything is sent.
TEST (QexImageBytes, ImagesThatCannotBeWrittenWholeAreRefusedWithAReason)
{
    auto oneShort = builtInQexImage();
    oneShort.pop_back();
    auto leftOver = builtInQexImage();
    leftOver.insert (leftOver.end(), 3, 0xEE);
    auto oneLeftOver = builtInQexImage();
    oneLeftOver.push_back (0xEE);
    QexImageBuilder seventeen;
    for (std::uint32_t i = 0; i < 17; ++i)
        seventeen.block (0x60000 + i * 0x100, Bytes (0x100, 0x11));

    const ImageCase refused[] = {
        {"one byte short of the built-in image", oneShort},
        {"bytes left over after the last block", leftOver},
        {"one byte left over after the last block", oneLeftOver},
        {"a last block cut short",
         QexImageBuilder().block (0x00000, region (1)).block (0x10000, 0x10000, Bytes (100, 2)).bytes},
        {"a length beyond the file", QexImageBuilder().block (0x30000, 0xFFFFFFFFu, Bytes (64, 5)).bytes},
        {"a repeated block", QexImageBuilder().block (0x10000, region (1)).block (0x10000, region (2)).bytes},
        {"overlapping blocks",
         QexImageBuilder().block (0x00000, region (1, 0x20000)).block (0x10000, region (2)).bytes},
        {"an empty block", QexImageBuilder().block (0x00000, region (1)).block (0x10000, {}).bytes},
        {"no blocks", QexImageBuilder().bytes},
        {"a block in a hole of the map", QexImageBuilder().block (0x40000, region (1)).bytes},
        {"a block off a region's start", QexImageBuilder().block (0x10100, region (1)).bytes},
        {"a block shorter than its region", QexImageBuilder().block (0x10000, region (1, 0x8000)).bytes},
        {"a block past the end of the flash", QexImageBuilder().block (0xE0000, region (1, 0x10001)).bytes},
        {"seventeen blocks", seventeen.bytes},
        {"a wrong model byte", {0x00, 0x1C, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 1, 7}},
        {"a header cut short", {0x00, 0x1B, 0x00}},
        {"an empty file", {}},
    };

    for (const auto& c : refused)
    {
        const auto image = qexImageOf (c.bytes);
        EXPECT_FALSE (image.isUsable()) << c.what;
        EXPECT_FALSE (image.problem().isEmpty()) << c.what;
        EXPECT_TRUE (image.blocks().empty()) << c.what;
    }
}

TEST (DspImageBytes, UsableImagesAreAccepted)
{
    EXPECT_TRUE (DspImage::builtIn().isUsable());
    EXPECT_EQ (DspImage::builtIn().size(), 537338u);

    const Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x00, 0x57, 0x01, 0xF7};
    Bytes longest{0xF0, 0x00, 0x00, 0x10};
    longest.resize (255, 0x01);
    longest.push_back (0xF7);
    Bytes withBreaksAndClock{0x0D, 0x0A};
    withBreaksAndClock.insert (withBreaksAndClock.end(), message.begin(), message.end());
    withBreaksAndClock.insert (withBreaksAndClock.begin() + 8, 0xF8); // real-time bytes may interleave
    withBreaksAndClock.push_back (0x0A);

    for (const auto& c : {ImageCase{"one message", message},
                          ImageCase{"a message of 256 bytes", longest},
                          ImageCase{"bytes between messages, a clock inside one", withBreaksAndClock}})
    {
        const auto image = dspImageOf (c.bytes);
        EXPECT_TRUE (image.isUsable()) << c.what << ": " << image.problem();
        juce::MemoryBlock replayed;
        image.read()->readIntoMemoryBlock (replayed);
        EXPECT_EQ (Bytes (replayed.begin(), replayed.end()), c.bytes) << c.what;
    }
}

// Images that would send nothing, or something other than whole DSP messages, end nothing in a
// false success: they are refused when read, and hold nothing to send.
TEST (DspImageBytes, ImagesWithoutWholeDspMessagesAreRefusedWithAReason)
{
    const Bytes message{0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x00, 0x57, 0x01, 0xF7};
    auto cutShort = message;
    cutShort.insert (cutShort.end(), message.begin(), message.begin() + 6);
    auto withNoteOn = message;
    withNoteOn[10] = 0x90;
    auto withSecondStart = message;
    withSecondStart[10] = 0xF0;
    Bytes tooLong{0xF0, 0x00, 0x00, 0x10};
    tooLong.resize (256, 0x01);
    tooLong.push_back (0xF7);
    const std::string text = "dspflash 1.70\nnot a sysex file\n";

    const ImageCase refused[] = {
        {"an empty file", {}},
        {"no complete message", {0xF0, 0x00, 0x00, 0x10, 0x00}},
        {"only F7 bytes", Bytes (16, 0xF7)},
        {"text", Bytes (text.begin(), text.end())},
        {"a last message cut short", cutShort},
        {"a status byte inside a message", withNoteOn},
        {"a start byte inside a message", withSecondStart},
        {"a message of 257 bytes", tooLong},
        {"messages of another family only", {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}},
    };

    for (const auto& c : refused)
    {
        const auto image = dspImageOf (c.bytes);
        EXPECT_FALSE (image.isUsable()) << c.what;
        EXPECT_FALSE (image.problem().isEmpty()) << c.what;
        EXPECT_EQ (image.read()->getTotalLength(), 0) << c.what;
    }
}

// Only regular files are read, and never beyond the size limit, whatever size the file claims.
// A file chosen replaces the image selected before, also when it is refused: nothing of the
// earlier image is left to send in its place.
TEST_F (ImageFile, OnlyRegularFilesWithinTheLimitAreRead)
{
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    juce::TemporaryFile oversized (".bin");
    {
        juce::FileOutputStream out (oversized.getFile());
        const Bytes header{0x00, 0x1B, 0x00, 0x02};
        out.write (header.data(), header.size());
        out.writeRepeatedByte (0x11, (size_t) Protocol::maxImageFileSize);
    }

    // Missing, a directory, too large, and a path that cannot be opened (under a plain file).
    juce::Array<juce::File> unusable{temp.getChildFile ("no-such-image.bin"),
                                     temp,
                                     oversized.getFile(),
                                     oversized.getFile().getChildFile ("image.bin")};
#if ! JUCE_WINDOWS
    juce::TemporaryFile fifo (".syx");
    ASSERT_EQ (::mkfifo (fifo.getFile().getFullPathName().toRawUTF8(), 0600), 0);
    unusable.addArray ({juce::File ("/dev/zero"), juce::File ("/dev/urandom"), fifo.getFile()});
#endif

    // Each refusal leaves nothing of the images selected before.
    for (const auto& file : unusable)
    {
        link.loadBuiltInQexImage();
        link.loadBuiltInDspImage();
        EXPECT_FALSE (link.loadQexImageFile (file)) << file.getFullPathName();
        EXPECT_FALSE (link.imageError.isEmpty()) << file.getFullPathName();
        EXPECT_FALSE (link.loadDspImageFile (file)) << file.getFullPathName();
        EXPECT_FALSE (link.imageError.isEmpty()) << file.getFullPathName();
        EXPECT_FALSE (link.qexImageValid.load()) << file.getFullPathName();
        EXPECT_FALSE (link.dspImageLoaded.load()) << file.getFullPathName();
        EXPECT_TRUE (link.qexImage.blocks().empty()) << file.getFullPathName();
        EXPECT_EQ (link.dspImage.read()->getTotalLength(), 0) << file.getFullPathName();
    }

    // A readable file is read whole.
    juce::TemporaryFile good (".bin");
    ASSERT_TRUE (good.getFile().replaceWithData (BinaryData::qexImage_bin, (size_t) BinaryData::qexImage_binSize));
    EXPECT_TRUE (link.loadQexImageFile (good.getFile())) << link.imageError;
    EXPECT_EQ (link.qexImage.blocks().size(), QexImage::builtIn().blocks().size());
}

// The image check and the reader work to the byte: the shortest DSP-family message counts, a
// message that exactly fills the buffer (its F7 included) fits and one byte more does not, and
// nothing is written past the buffer. Every byte of the message is non-zero, so a write past the
// check's own header copy also reaches the stack guard the tests build that code with.
TEST (DspImageCheck, LimitsHoldToTheByte)
{
    auto check = [] (const Bytes& bytes, int bufferSize)
    {
        juce::MemoryInputStream in (bytes.data(), bytes.size(), false);
        return checkDspImage (in, bufferSize).toStdString();
    };

    EXPECT_EQ (check ({0xF0, 0x00, 0x00, 0x10, 0xF7}, 256), "");
    EXPECT_NE (check ({0xF0, 0x00, 0x00, 0x11, 0xF7}, 256), "");

    const Bytes message{0xF0, 0x00, 0x00, 0x10, 0x11, 0x22, 0x33, 0xF7};
    EXPECT_EQ (check (message, 8), "");
    EXPECT_NE (check (message, 7), "");

    std::uint8_t buffer[12];
    for (int bufferSize : {7, 8})
    {
        std::fill (std::begin (buffer), std::end (buffer), std::uint8_t{0xEE});
        juce::MemoryInputStream in (message.data(), message.size(), false);
        int size = -1;
        const auto read = readDspMessage (in, buffer, bufferSize, size);
        EXPECT_EQ (read, bufferSize == 8 ? DspReadResult::message : DspReadResult::tooLong) << bufferSize;
        EXPECT_EQ (size, bufferSize) << bufferSize;
        EXPECT_TRUE (std::equal (message.begin(), message.begin() + bufferSize, buffer)) << bufferSize;
        EXPECT_EQ (buffer[bufferSize], 0xEE) << bufferSize;
    }
}
