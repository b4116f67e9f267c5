#include "sim/TrafficLog.h"

#include "link/Pacing.h"

#include <cstdio>

namespace zelvor
{
TrafficLog::TrafficLog (const juce::File& file)
    : out (file.getFullPathName().toStdString()), start (Pacing::elapsedMilliseconds())
{
}

bool TrafficLog::isOpen() const
{
    return out.is_open();
}

void TrafficLog::write (bool toUnit, const std::uint8_t* data, int size)
{
    char field[24];
    std::lock_guard<std::mutex> guard (lock);
    std::snprintf (field, sizeof (field), "%lld %c", (long long) (Pacing::elapsedMilliseconds() - start), toUnit ? '>' : '<');
    out << field;
    for (int i = 0; i < size; ++i)
    {
        std::snprintf (field, sizeof (field), " %02X", data[i]);
        out << field;
    }
    out << '\n';
    out.flush();
}
} // namespace zelvor
