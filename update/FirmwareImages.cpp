#include "link/DspMessageReader.h"
#include "link/FirmwareManager.h"
#include "link/Protocol.h"
#include "link/SysexCodec.h"

#include <BinaryData.h>

#include <algorithm>

#if ! JUCE_WINDOWS
 #include <cerrno>
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace zelvor
{
namespace
{
    constexpr juce::int64 sizeLimit = Protocol::maxImageFileSize;

    juce::String tooLarge()
    {
        return "The file is larger than " + juce::String (sizeLimit / (1024 * 1024)) + " MB.";
    }

    // Reads a whole update file, or says why not. Only a regular file is read (a device or a
    // FIFO could stream forever or block), and never more than the size limit, whatever size
    // the file claims.
    juce::String readImageFile (const juce::File& file, juce::MemoryBlock& contents)
    {
        contents.reset();
        std::vector<char> chunk (65536);

#if JUCE_WINDOWS
        if (! file.existsAsFile())
            return file.exists() ? "The file is not a regular file." : "The file does not exist.";

        juce::FileInputStream in (file);
        if (! in.openedOk())
            return "The file could not be read.";

        for (;;)
        {
            const auto got = in.read (chunk.data(), (int) chunk.size());
            if (got < 0)
                return "The file could not be read.";
            if (got == 0)
                break;
            contents.append (chunk.data(), (size_t) got);
            if ((juce::int64) contents.getSize() > sizeLimit)
                return tooLarge();
        }
#else
        // Opened without blocking, so a FIFO with no writer cannot hold the program up before
        // it is seen for what it is.
        const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? "The file does not exist." : "The file could not be read.";

        struct Closer
        {
            int fd;
            ~Closer()
            {
                ::close (fd);
            }
        } closer{fd};

        struct stat info;
        if (::fstat (fd, &info) != 0)
            return "The file could not be read.";
        if (! S_ISREG (info.st_mode))
            return "The file is not a regular file.";
        if (info.st_size > sizeLimit)
            return tooLarge();

        for (;;)
        {
            const auto got = ::read (fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return "The file could not be read.";
            if (got == 0)
                break;
            contents.append (chunk.data(), (size_t) got);
            if ((juce::int64) contents.getSize() > sizeLimit) // it grew while being read
                return tooLarge();
        }
#endif
        return {};
    }

    std::unique_ptr<juce::InputStream> streamOver (const void* data, size_t size)
    {
        return std::make_unique<juce::MemoryInputStream> (data, size, true);
    }
} // namespace

juce::String readQexBlocks (juce::InputStream& stream, std::vector<ImageBlock>& blocks)
{
    stream.setPosition (0);

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

juce::String FirmwareManager::qexImageProblem()
{
    if (qexImageStream == nullptr)
        return "No QEX image is selected.";

    std::vector<ImageBlock> blocks;
    const auto problem = readQexBlocks (*qexImageStream, blocks);
    if (problem.isNotEmpty())
        return problem;

    imageBlocks = std::move (blocks);
    if (imageBlocks.size() > (size_t) Protocol::maxBlocksSent)
        return "The file has more than " + juce::String (Protocol::maxBlocksSent) + " blocks.";
    if (! imageFitsMap (imageBlocks, unitFlashMap()))
        return "A block does not fit the unit's flash.";
    return {};
}

bool FirmwareManager::parseQexImage()
{
    if (qexImageStream == nullptr)
        return false;

    // A refused image leaves the block list as it was.
    std::vector<ImageBlock> blocks;
    if (readQexBlocks (*qexImageStream, blocks).isNotEmpty())
        return false;

    imageBlocks = std::move (blocks);
    return true;
}

bool FirmwareManager::loadQexImageFile (const juce::File& file)
{
    // A file chosen replaces what was selected before, also when it is refused: the user asked
    // for this file, so nothing of the earlier image may be sent in its place.
    qexImageValid.store (false);
    qexImageStream = nullptr;
    imageBlocks.clear();

    juce::MemoryBlock contents;
    imageError = readImageFile (file, contents);
    if (imageError.isNotEmpty())
        return false;

    qexImageStream = streamOver (contents.getData(), contents.getSize());
    imageError = qexImageProblem();
    if (imageError.isNotEmpty())
    {
        qexImageStream = nullptr;
        imageBlocks.clear();
        return false;
    }

    qexImageValid.store (true);
    return true;
}

bool FirmwareManager::loadDspImageFile (const juce::File& file)
{
    // As for QEX: a refused file leaves no DSP image selected.
    dspImageLoaded.store (false);
    dspImageStream = nullptr;

    juce::MemoryBlock contents;
    imageError = readImageFile (file, contents);
    if (imageError.isNotEmpty())
        return false;

    auto stream = streamOver (contents.getData(), contents.getSize());
    imageError = checkDspImage (*stream, Protocol::dspMessageBufferSize);
    if (imageError.isNotEmpty())
        return false;

    dspImageStream = std::move (stream);
    dspImageLoaded.store (true);
    return true;
}

void FirmwareManager::loadBuiltInQexImage()
{
    qexImageStream = streamOver (BinaryData::qexImage_bin, (size_t) BinaryData::qexImage_binSize);
    imageError = qexImageProblem();
    qexImageValid.store (imageError.isEmpty());
}

bool FirmwareManager::loadBuiltInDspImage()
{
    // The built-in image passes the same check as a file, so a damaged build is caught too.
    dspImageStream = streamOver (BinaryData::dspImage_syx, (size_t) BinaryData::dspImage_syxSize);
    imageError = checkDspImage (*dspImageStream, Protocol::dspMessageBufferSize);
    dspImageLoaded.store (imageError.isEmpty());
    return dspImageLoaded.load();
}
} // namespace zelvor
