#pragma once
// Byte layout of every System Exclusive message exchanged with the keyboard, and the encoder and
// decoder that build and parse them. Pure byte work: nothing here sends or waits.

#include "zxexception.h"

#include <array>
#include <cstdint>
#include <vector>

// Addresses one message: which item (kind code, data number) and, for data blocks, its words.
// Owned by the caller; the codec only keeps a pointer to it.
struct ZxSysExAddress {
    std::uint8_t kindCode = 0;                   // only bits 0-3 are sent
    std::int32_t byteCount = 0;                  // size of the item, used by the streams
    std::int32_t dataNumber = 0;                 // only bits 0-13 are sent
    std::vector<std::uint16_t>* words = nullptr; // the item's payload, read by data-block encoding
};

// Describes one parameter of a parameter request or value. Owned by the caller.
struct ZxSysExParam {
    std::uint8_t number = 0;      // sent in byte 6, unmasked
    std::uint8_t width = 1;       // value width in bits, 1..32
    std::uint8_t indexLength = 1; // 1..4
    std::array<std::uint8_t, 4> index{};
    std::uint32_t value = 0;
};

// Message types (bits 4-7 of byte 5).
namespace ZxSysExType {
inline constexpr std::uint8_t ParamValue = 0;
inline constexpr std::uint8_t ParamRequest = 1;
inline constexpr std::uint8_t DataBlock = 4;
inline constexpr std::uint8_t DataRequest = 5;
inline constexpr std::uint8_t Handshake = 7;
} // namespace ZxSysExType

// Handshake statuses (byte 10 of a handshake).
namespace ZxSysExStatus {
inline constexpr std::uint8_t End = 0;
inline constexpr std::uint8_t Accepted = 1;
inline constexpr std::uint8_t Rejected = 2;
inline constexpr std::uint8_t Error = 3;
} // namespace ZxSysExStatus

inline constexpr std::uint16_t kModelCode = 0x1101;
inline constexpr std::uint8_t kFixedByte = 0x7F;
inline constexpr std::size_t kLongestMessage = 207; // a full data block

class ZxSysEx {
public:
    std::uint8_t type() const { return m_type; }
    std::uint8_t status() const { return m_status; }
    const std::vector<std::uint8_t>& message() const { return m_message; }

protected:
    std::uint8_t m_type = 0;
    std::uint8_t m_status = 0;
    ZxSysExAddress* m_address = nullptr;
    ZxSysExParam* m_param = nullptr;
    std::vector<std::uint8_t> m_message;
};

class ZxSysExEncoder : public ZxSysEx {
public:
    ZxSysExEncoder(); // message F0 44 00 00 00 00 00 00 00 00, type 0, status 0

    void setModelCode(std::uint16_t code);
    void setFixedByte(std::uint8_t b);
    void setType(std::uint8_t t);
    void setAddress(ZxSysExAddress& address) { m_address = &address; }
    void setParam(ZxSysExParam& param) { m_param = &param; }
    void setStatus(std::uint8_t s) { m_status = s; }
    void setBlockNumber(std::uint16_t n);
    void setBlockLength(std::uint8_t byteCount);

    // Appends the message for the current type to out (never clears out).
    // Throws ZxSysExException 4 for a type that does not exist; std::out_of_range when a data
    // block reaches past the address's words.
    void encode(std::vector<std::uint8_t>& out);
};

class ZxSysExDecoder : public ZxSysEx {
public:
    ZxSysExDecoder() = default;

    void setAddress(ZxSysExAddress& address) { m_address = &address; }
    void setParam(ZxSysExParam& param) { m_param = &param; }

    // Parses one received message and fills the records and the accessors below.
    // Throws ZxSysExException 3 (parameter value too short), 4 (type other than 0, 4, 7, or a
    // message too short or malformed to parse) or 5 (checksum). Never reads past `in`.
    void decode(const std::vector<std::uint8_t>& in);

    std::uint32_t value() const { return m_value; }
    const std::vector<std::uint16_t>& words() const { return m_words; }
    std::uint16_t blockNumber() const;
    std::uint16_t blockLength() const;

private:
    std::vector<std::uint16_t> m_words;
    std::uint32_t m_value = 0;
};
