#include "link/SysexCodec.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zelvor::Sysex
{
namespace
{
    constexpr std::uint8_t identityRequestBytes[] = {
        0xF0, 0x06, 0x7F, 0x1B, 0x7F, 0x01, 0x00, 0x7F, 0x7F, 0x7F, 0x63, 0xF7};
    constexpr std::uint8_t identityReplyRunningBytes[] = {
        0xF0, 0x06, 0x7F, 0x7F, 0x7F, 0x02, 0x00, 0x00, 0x1B, 0x02, 0x00, 0x62, 0xF7};
    constexpr std::uint8_t identityReplyLoaderBytes[] = {
        0xF0, 0x06, 0x7F, 0x7F, 0x7F, 0x02, 0x00, 0x00, 0x1B, 0x02, 0x01, 0x63, 0xF7};
    constexpr std::uint8_t enterLoaderRequestBytes[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x71, 0x6E, 0xF7};
    constexpr std::uint8_t enterLoaderAckBytes[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x00, 0x71, 0x10, 0xF7};
    constexpr std::uint8_t mapRequestBytes[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x78, 0x67, 0xF7};
    constexpr std::uint8_t beginWriteRequestBytes[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7B, 0x00, 0x00, 0x64, 0xF7};
    constexpr std::uint8_t beginWriteAckBytes[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x00, 0x7B, 0x1A, 0xF7};
    constexpr std::uint8_t dataBlockAckBytes[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7E, 0x00, 0x7A, 0x1B, 0xF7};

    // Six 64 KiB regions at 0x00000, 0x10000, 0x20000, 0x30000, 0x60000 and 0xE0000, packed seven
    // bytes to a group (every flag byte is 0 because no map byte reaches 0x80).
    constexpr std::uint8_t mapReplyBytes[] = {
        0xF0, 0x06, 0x00, 0x1B, 0x02, 0x79, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x69, 0xF7};

    // The same reply in the form some units send: its 60 bytes do not unpack to the regions it
    // stands for, which are the six above.
    constexpr std::uint8_t mapReplyVariantBytes[] = {
        0xF0, 0x06, 0x00, 0x1B, 0x02, 0x79, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06,
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x69, 0xF7};

    constexpr std::uint8_t dspStartBytes[] = {
        0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x42, 0x00, 0x6E, 0x30, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7F, 0xF7};
    constexpr std::uint8_t dspEndBytes[] = {
        0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x43, 0x00, 0x6D, 0x30, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7F, 0xF7};

    constexpr std::uint8_t replyHeader[] = {0x00, 0x00, 0x10, 0x00, 0x60, 0x01};

    template <std::size_t N>
    constexpr FixedMessage fixed (const std::uint8_t (&bytes)[N])
    {
        return {bytes, static_cast<int> (N)};
    }
} // namespace

const FixedMessage identityRequest = fixed (identityRequestBytes);
const FixedMessage enterLoaderRequest = fixed (enterLoaderRequestBytes);
const FixedMessage mapRequest = fixed (mapRequestBytes);
const FixedMessage beginWriteRequest = fixed (beginWriteRequestBytes);
const FixedMessage identityReplyRunning = fixed (identityReplyRunningBytes);
const FixedMessage identityReplyLoader = fixed (identityReplyLoaderBytes);
const FixedMessage enterLoaderAck = fixed (enterLoaderAckBytes);
const FixedMessage mapReply = fixed (mapReplyBytes);
const FixedMessage mapReplyVariant = fixed (mapReplyVariantBytes);
const FixedMessage beginWriteAck = fixed (beginWriteAckBytes);
const FixedMessage dataBlockAck = fixed (dataBlockAckBytes);
const FixedMessage dspStartMessage = fixed (dspStartBytes);
const FixedMessage dspEndMessage = fixed (dspEndBytes);

const std::array<DspReplyInfo, 11> dspReplyCatalogue{{
    {"ACK", 0x01, 10},
    {"ERR", 0x02, 10},
    {"CHECKSUM FAILED", 0x03, 10},
    {"SEND PRESET START", 0x11, 34},
    {"SEND PRESET END", 0x12, 10},
    {"REQUEST PRESET", 0x13, 12},
    {"REQUEST PRESET VERSION", 0x14, 10},
    {"PRESET VERSION DATA", 0x15, 12},
    {"PARAMETER DATA", 0x22, 16},
    {"SEND FIRMWARE START", 0x31, 34},
    {"SEND FIRMWARE END", 0x32, 10},
}};

std::uint8_t xorChecksum (const std::uint8_t* message, int size)
{
    std::uint8_t sum = 0;
    for (int i = 1; i <= size - 3; ++i)
        sum ^= message[i];
    return sum;
}

int packSeven (const std::uint8_t* source, int n, std::uint8_t* out)
{
    std::uint8_t flags = 0;
    for (int k = 0; k < n; ++k)
    {
        if ((source[k] & 0x80) != 0)
            flags |= static_cast<std::uint8_t> (1u << (6 - k));
        out[k + 1] = source[k] & 0x7F;
    }
    out[0] = flags;
    return n + 1;
}

int buildDataBlockMessage (const std::uint8_t* data, std::uint32_t address, int length, std::uint8_t* workArea)
{
    length = std::clamp (length, 0, maxDataBlockLength);

    std::fill (workArea, workArea + dataBlockWorkAreaSize, std::uint8_t{0xFF});
    constexpr std::uint8_t head[] = {0xF0, 0x06, 0x00, 0x1B, 0x02, 0x7A};
    std::memcpy (workArea, head, sizeof (head));

    std::uint8_t source[6 + maxDataBlockLength];
    source[0] = static_cast<std::uint8_t> (address >> 24);
    source[1] = static_cast<std::uint8_t> (address >> 16);
    source[2] = static_cast<std::uint8_t> (address >> 8);
    source[3] = static_cast<std::uint8_t> (address);
    source[4] = static_cast<std::uint8_t> (length >> 8);
    source[5] = static_cast<std::uint8_t> (length);
    std::memcpy (source + 6, data, static_cast<std::size_t> (length));

    const int sourceSize = 6 + length;
    int size = static_cast<int> (sizeof (head));
    for (int offset = 0; offset < sourceSize; offset += 7)
        size += packSeven (source + offset, std::min (7, sourceSize - offset), workArea + size);

    size += 2;
    workArea[size - 2] = xorChecksum (workArea, size);
    workArea[size - 1] = 0xF7;
    return size;
}

std::array<std::uint8_t, mapSize> unpackSeven (const std::uint8_t* packed)
{
    std::array<std::uint8_t, mapSize> map{};
    int out = 0;
    for (int group = 0; group < mapPackedSize; group += 8)
    {
        const auto flags = packed[group];
        const int count = std::min (7, mapPackedSize - group - 1);
        for (int k = 0; k < count; ++k)
        {
            const bool topBit = (flags & (1u << (6 - k))) != 0;
            map[static_cast<std::size_t> (out++)] =
                static_cast<std::uint8_t> (packed[group + 1 + k] | (topBit ? 0x80 : 0x00));
        }
    }
    return map;
}

bool isMapReply (const std::uint8_t* received, int size)
{
    return matchesMessage (received, size, mapReply) || matchesMessage (received, size, mapReplyVariant);
}

std::array<std::uint8_t, mapSize> flashMapOfReply (const std::uint8_t* reply)
{
    // Either form stands for the same map; only the packed one unpacks to it.
    const bool variant = matchesMessage (reply, mapReplyVariant.size, mapReplyVariant);
    return unpackSeven ((variant ? mapReply.bytes : reply) + mapPackedOffset);
}

bool matchesMessage (const std::uint8_t* received, int size, const FixedMessage& fixed)
{
    return size == fixed.size && std::memcmp (received + 1, fixed.bytes + 1, static_cast<std::size_t> (size - 1)) == 0;
}

bool isUnitReplyHeader (const std::uint8_t* received, int size)
{
    return size >= 9 && size <= 34 && std::memcmp (received + 1, replyHeader, sizeof (replyHeader)) == 0 &&
           received[size - 1] == 0xF7;
}

MessageKind kindOf (const std::uint8_t* bytes, int size)
{
    if (size <= 0)
        return MessageKind::otherMidi;
    if (bytes[0] != 0xF0)
        return bytes[0] < 0x80 || bytes[0] == 0xF7 ? MessageKind::continuation : MessageKind::otherMidi;

    const std::pair<const FixedMessage&, MessageKind> fixedKinds[] = {
        {identityRequest, MessageKind::identityAsked},
        {identityReplyRunning, MessageKind::identityRunning},
        {identityReplyLoader, MessageKind::identityLoader},
        {enterLoaderRequest, MessageKind::loaderAsked},
        {enterLoaderAck, MessageKind::loaderAcknowledged},
        {mapRequest, MessageKind::mapAsked},
        {beginWriteRequest, MessageKind::beginWriteAsked},
        {beginWriteAck, MessageKind::beginWriteAcknowledged},
        {dataBlockAck, MessageKind::dataBlockAcknowledged},
        {dspStartMessage, MessageKind::dspStart},
        {dspEndMessage, MessageKind::dspEnd},
    };
    for (const auto& [fixed, kind] : fixedKinds)
        if (matchesMessage (bytes, size, fixed))
            return kind;
    if (isMapReply (bytes, size))
        return MessageKind::map;

    constexpr std::uint8_t qexHead[] = {0xF0, 0x06, 0x00, 0x1B, 0x02};
    if (size > 6 && std::memcmp (bytes, qexHead, sizeof (qexHead)) == 0)
        return bytes[5] == 0x7A ? MessageKind::dataBlock : MessageKind::otherQex;

    if (isUnitReplyHeader (bytes, size))
    {
        switch (bytes[dspReplyCodeOffset])
        {
            case dspAckCode:
                return MessageKind::dspAck;
            case dspErrorCode:
                return MessageKind::dspError;
            case dspChecksumFailedCode:
                return MessageKind::dspChecksumFailed;
            default:
                return MessageKind::otherDspReply;
        }
    }
    if (size > 3 && bytes[1] == 0x00 && bytes[2] == 0x00 && bytes[3] == 0x10)
        return MessageKind::dspImage;
    return MessageKind::otherSysex;
}

const char* kindName (MessageKind kind)
{
    switch (kind)
    {
        case MessageKind::identityAsked:
            return "identity request";
        case MessageKind::identityRunning:
            return "identity reply (running)";
        case MessageKind::identityLoader:
            return "identity reply (loader)";
        case MessageKind::loaderAsked:
            return "loader request";
        case MessageKind::loaderAcknowledged:
            return "loader acknowledgement";
        case MessageKind::mapAsked:
            return "map request";
        case MessageKind::map:
            return "map reply";
        case MessageKind::beginWriteAsked:
            return "begin-write request";
        case MessageKind::beginWriteAcknowledged:
            return "begin-write acknowledgement";
        case MessageKind::dataBlock:
            return "data block";
        case MessageKind::dataBlockAcknowledged:
            return "data-block acknowledgement";
        case MessageKind::otherQex:
            return "other QEX message";
        case MessageKind::dspStart:
            return "DSP start";
        case MessageKind::dspEnd:
            return "DSP end";
        case MessageKind::dspAck:
            return "DSP reply ACK";
        case MessageKind::dspError:
            return "DSP reply ERR";
        case MessageKind::dspChecksumFailed:
            return "DSP reply CHECKSUM FAILED";
        case MessageKind::otherDspReply:
            return "other DSP reply";
        case MessageKind::dspImage:
            return "DSP image message";
        case MessageKind::continuation:
            return "SysEx piece";
        case MessageKind::otherSysex:
            return "other SysEx";
        case MessageKind::otherMidi:
            break;
    }
    return "other MIDI";
}

FlashMap readFlashMap (const std::array<std::uint8_t, mapSize>& map)
{
    auto bigEndian32 = [&map] (int offset)
    {
        return (std::uint32_t{map[static_cast<std::size_t> (offset)]} << 24) |
               (std::uint32_t{map[static_cast<std::size_t> (offset + 1)]} << 16) |
               (std::uint32_t{map[static_cast<std::size_t> (offset + 2)]} << 8) |
               std::uint32_t{map[static_cast<std::size_t> (offset + 3)]};
    };

    FlashMap result;
    result.status = map[0];
    const int count = std::min<int> (map[3], (mapSize - 4) / 8);
    for (int k = 0; k < count; ++k)
        result.regions.push_back ({bigEndian32 (4 + 8 * k), bigEndian32 (8 + 8 * k)});
    return result;
}
} // namespace zelvor::Sysex
