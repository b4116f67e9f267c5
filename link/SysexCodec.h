#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Byte layouts of everything exchanged with the unit: the checksummed QEX family
// (manufacturer 06) and the DSP family (manufacturer 00 00 10).
namespace zelvor::Sysex
{
struct FixedMessage
{
    const std::uint8_t* bytes;
    int size;
};

// QEX family, sent by the link.
extern const FixedMessage identityRequest;
extern const FixedMessage enterLoaderRequest;
extern const FixedMessage mapRequest;
extern const FixedMessage beginWriteRequest;

// QEX family, the replies the link recognises.
extern const FixedMessage identityReplyRunning;
extern const FixedMessage identityReplyLoader;
extern const FixedMessage enterLoaderAck;
extern const FixedMessage mapReply;        // the six regions, packed seven bytes to a group
extern const FixedMessage mapReplyVariant; // another form of it that some units send
extern const FixedMessage beginWriteAck;
extern const FixedMessage dataBlockAck;

// DSP family, sent around the stored image messages.
extern const FixedMessage dspStartMessage;
extern const FixedMessage dspEndMessage;

constexpr int dataBlockWorkAreaSize = 2048;
constexpr int maxDataBlockLength = 256;
constexpr int mapPackedOffset = 6;
constexpr int mapPackedSize = 60;
constexpr int mapSize = 52;

// The byte that belongs at offset size-2 of a QEX-family message: the XOR of offsets 1..size-3.
std::uint8_t xorChecksum (const std::uint8_t* message, int size);

// Packs n (1..7) source bytes into n+1 bytes: a flag byte holding their top bits (first source
// byte in bit 6), then the bytes with their top bit cleared. Returns n+1.
int packSeven (const std::uint8_t* source, int n, std::uint8_t* out);

// Writes the data-block message for `length` (1..256) bytes at `address` into the 2048-byte
// work area and returns its total length.
int buildDataBlockMessage (const std::uint8_t* data, std::uint32_t address, int length, std::uint8_t* workArea);

// The inverse of packSeven over the 60 packed bytes of a map reply: 52 map bytes.
std::array<std::uint8_t, mapSize> unpackSeven (const std::uint8_t* packed);

// A received message matches a fixed one when it has its length and its bytes from offset 1 on.
bool matchesMessage (const std::uint8_t* received, int size, const FixedMessage& fixed);

// Either form of the map reply.
bool isMapReply (const std::uint8_t* received, int size);

// The 52 map bytes a map reply (of either form, 68 bytes from its F0) stands for.
std::array<std::uint8_t, mapSize> flashMapOfReply (const std::uint8_t* reply);

// What a message to or from the unit is, for a failure's details.
enum class MessageKind : std::uint8_t
{
    identityAsked,
    identityRunning,
    identityLoader,
    loaderAsked,
    loaderAcknowledged,
    mapAsked,
    map,
    beginWriteAsked,
    beginWriteAcknowledged,
    dataBlock,
    dataBlockAcknowledged,
    otherQex,
    dspStart,
    dspEnd,
    dspAck,
    dspError,
    dspChecksumFailed,
    otherDspReply,
    dspImage,     // a message of the stored DSP image
    continuation, // a later piece of a SysEx sent in pieces
    otherSysex,
    otherMidi
};
MessageKind kindOf (const std::uint8_t* bytes, int size);
const char* kindName (MessageKind kind);

// A DSP-family reply: 9 to 34 bytes, offsets 1-6 are 00 00 10 00 60 01, the last byte F7.
bool isUnitReplyHeader (const std::uint8_t* received, int size);

constexpr std::uint8_t dspAckCode = 0x01;
constexpr std::uint8_t dspErrorCode = 0x02;          // "ERR"
constexpr std::uint8_t dspChecksumFailedCode = 0x03; // "CHECKSUM FAILED"
constexpr int dspReplyCodeOffset = 7;

struct DspReplyInfo
{
    const char* name;
    std::uint16_t code;
    std::uint16_t totalLength;
};

extern const std::array<DspReplyInfo, 11> dspReplyCatalogue;

// The unit's flash map, as carried by the map reply.
struct FlashRegion
{
    std::uint32_t start;
    std::uint32_t length;
};

struct FlashMap
{
    std::uint8_t status = 0xff;
    std::vector<FlashRegion> regions;
};

// Reads status, region count and regions from the 52 unpacked map bytes; a count larger than
// the bytes can hold is cut to what they hold.
FlashMap readFlashMap (const std::array<std::uint8_t, mapSize>& map);
} // namespace zelvor::Sysex
