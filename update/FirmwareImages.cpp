#include "link/DspMessageReader.h"
#include "link/FirmwareManager.h"

#include <BinaryData.h>

namespace zelvor
{
namespace
{
    // Real images are well under 1 MiB; anything far larger is not an update file.
    bool readWholeFile (const juce::File& file, juce::MemoryBlock& contents)
    {
        return file.existsAsFile() && file.getSize() <= FirmwareManager::maxImageFileSize && file.loadFileAsData (contents);
    }

    std::unique_ptr<juce::InputStream> streamOver (const void* data, size_t size)
    {
        return std::make_unique<juce::MemoryInputStream> (data, size, true);
    }

    // Every message must fit the sender's message buffer.
    bool messagesFitBuffer (const juce::MemoryBlock& image)
    {
        juce::MemoryInputStream stream (image, false);
        std::uint8_t buffer[FirmwareManager::dspMessageBufferSize];
        int size = 0;
        auto result = DspReadResult::message;
        while (result == DspReadResult::message)
            result = readDspMessage (stream, buffer, (int) sizeof (buffer), size);
        return result == DspReadResult::endOfStream;
    }
} // namespace

bool FirmwareManager::loadQexImageFile (const juce::File& file)
{
    juce::MemoryBlock contents;
    if (! readWholeFile (file, contents))
        return false;

    qexImageStream = streamOver (contents.getData(), contents.getSize());
    qexImageValid.store (parseQexImage());
    return qexImageValid.load();
}

bool FirmwareManager::loadDspImageFile (const juce::File& file)
{
    juce::MemoryBlock contents;
    if (! readWholeFile (file, contents) || ! messagesFitBuffer (contents))
        return false;

    dspImageStream = streamOver (contents.getData(), contents.getSize());
    dspImageLoaded.store (true);
    return true;
}

void FirmwareManager::loadBuiltInQexImage()
{
    qexImageStream = streamOver (BinaryData::qexImage_bin, (size_t) BinaryData::qexImage_binSize);
    qexImageValid.store (parseQexImage());
}

bool FirmwareManager::loadBuiltInDspImage()
{
    dspImageStream = streamOver (BinaryData::dspImage_syx, (size_t) BinaryData::dspImage_syxSize);
    dspImageLoaded.store (true);
    return true;
}

bool FirmwareManager::parseQexImage()
{
    if (qexImageStream == nullptr)
        return false;

    auto& stream = *qexImageStream;
    stream.setPosition (0);

    // Only the low bytes of the two model values are checked; reading past the end yields 0.
    stream.readByte();
    if ((std::uint8_t) stream.readByte() != 0x1B)
        return false;
    stream.readByte();
    if ((std::uint8_t) stream.readByte() != 0x02)
        return false;

    imageBlocks.clear();

    auto remaining = [&stream]
    { return stream.getTotalLength() - stream.getPosition(); };

    while (true)
    {
        if (remaining() < 4)
            break;
        const auto address = (std::uint32_t) stream.readIntBigEndian();

        if (remaining() < 4)
            break;
        const auto length = (std::uint32_t) stream.readIntBigEndian();

        // A length beyond what remains ends the parse without reserving memory for it.
        if ((juce::uint64) remaining() < length)
            break;

        ImageBlock block;
        block.address = address;
        block.length = length;
        block.data.resize (length);
        if (length > 0)
            stream.read (block.data.data(), (int) length);
        imageBlocks.push_back (std::move (block));
    }

    // Whatever stopped the loop lies at the end of the image (a short last block, stray bytes),
    // which counts as consumed.
    stream.setPosition (stream.getTotalLength());
    return true;
}
} // namespace zelvor
