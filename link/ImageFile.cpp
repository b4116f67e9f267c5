#include "link/ImageFile.h"

#include "link/Protocol.h"

#include <vector>

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
} // namespace

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
} // namespace zelvor
