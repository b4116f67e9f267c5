#include "sim/CommandLine.h"

#include "sim/VirtualUnit.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace zelvor::CommandLine
{
bool parseNumber (const juce::String& text, double& value)
{
    const auto utf8 = text.toStdString();
    if (utf8.empty() || std::isspace ((unsigned char) utf8.front()))
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod (utf8.c_str(), &end);
    return errno == 0 && end == utf8.c_str() + utf8.size() && std::isfinite (value);
}

bool absentOrRegular (const juce::File& file)
{
    struct stat info;
    if (::stat (file.getFullPathName().toRawUTF8(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG (info.st_mode);
}

void printFaults()
{
    for (const auto& name : VirtualUnit::faultNames())
        std::printf ("%s  %s\n", name.toRawUTF8(), VirtualUnit::describeFault (name).toRawUTF8());
}
} // namespace zelvor::CommandLine
