#include "link/DspImage.h"

#include "link/DspMessageReader.h"
#include "link/ImageFile.h"
#include "link/Protocol.h"

#include <BinaryData.h>

namespace zelvor
{
DspImage DspImage::fromBytes (const void* data, size_t size)
{
    DspImage image;
    auto block = std::make_shared<juce::MemoryBlock> (data, size);
    juce::MemoryInputStream stream (*block, false);
    image.reason = checkDspImage (stream, Protocol::dspMessageBufferSize);
    if (image.reason.isEmpty())
        image.bytes = std::move (block);
    return image;
}

DspImage DspImage::fromFile (const juce::File& file)
{
    juce::MemoryBlock contents;
    const auto problem = readImageFile (file, contents);
    if (problem.isNotEmpty())
    {
        DspImage refused;
        refused.reason = problem;
        return refused;
    }
    return fromBytes (contents.getData(), contents.getSize());
}

DspImage DspImage::builtIn()
{
    // The built-in image passes the same check as a file, so a damaged build is caught too.
    return fromBytes (BinaryData::dspImage_syx, (size_t) BinaryData::dspImage_syxSize);
}

std::unique_ptr<juce::InputStream> DspImage::read() const
{
    if (bytes == nullptr)
        return std::make_unique<juce::MemoryInputStream> (nullptr, 0, false);
    return std::make_unique<juce::MemoryInputStream> (bytes->getData(), bytes->getSize(), false);
}
} // namespace zelvor
