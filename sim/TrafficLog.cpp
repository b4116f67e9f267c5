#include "sim/TrafficLog.h"

#include "link/Pacing.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvor
{
namespace
{
#if JUCE_WINDOWS
    // Binary mode: the C runtime's text mode would turn every 0x0A written into 0x0D 0x0A.
    constexpr int outputFlags = O_WRONLY | O_CREAT | O_BINARY;
#else
    // Not blocking, so a FIFO with no reader is refused below instead of holding the run up.
    constexpr int outputFlags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC;
#endif
} // namespace

int openOutput (const juce::File& file)
{
    const int fd = ::open (file.getFullPathName().toRawUTF8(), outputFlags, 0644);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat (fd, &info) != 0 || ! S_ISREG (info.st_mode) || ::ftruncate (fd, 0) != 0)
    {
        ::close (fd);
        return -1;
    }
    return fd;
}

bool writeAll (int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*> (data);
    while (size > 0)
    {
        const auto written = ::write (fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= (size_t) written;
    }
    return true;
}

bool writeOutput (const juce::File& file, const std::vector<std::uint8_t>& bytes)
{
    const int fd = openOutput (file);
    if (fd < 0)
        return false;
    const bool written = writeAll (fd, bytes.data(), bytes.size());
    return ::close (fd) == 0 && written;
}

TrafficLog::TrafficLog (const juce::File& file) : fd (openOutput (file)), start (Pacing::elapsedMilliseconds())
{
}

TrafficLog::~TrafficLog()
{
    if (fd >= 0)
        ::close (fd);
}

bool TrafficLog::isOpen() const
{
    return fd >= 0;
}

bool TrafficLog::failed() const
{
    return writeFailed.load();
}

void TrafficLog::write (bool toUnit, const std::uint8_t* data, int size)
{
    std::string line = std::to_string ((long long) (Pacing::elapsedMilliseconds() - start)) + (toUnit ? " >" : " <");
    char hex[4];
    for (int i = 0; i < size; ++i)
    {
        std::snprintf (hex, sizeof (hex), " %02X", data[i]);
        line += hex;
    }
    line += '\n';

    std::lock_guard<std::mutex> guard (lock);
    if (! writeAll (fd, line.data(), line.size()))
        writeFailed = true;
}
} // namespace zelvor
