#include "zxsysex.h"

#include <stdexcept>

namespace {

// Bytes 0-9 are the fixed part of every message; the payload starts at byte 10.
constexpr std::size_t kHeaderLength = 10;
constexpr std::size_t kBlockHeaderLength = 13; // + block number (2) and word count (1)
constexpr std::uint8_t kEndOfExclusive = 0xF7;

int groupCount(int width) {
    if (width <= 7)
        return 1;
    if (width <= 14)
        return 2;
    if (width <= 21)
        return 3;
    if (width <= 28)
        return 4;
    return 5;
}

std::uint8_t layoutByte(const ZxSysExParam& p) {
    return static_cast<std::uint8_t>(((p.indexLength - 1) & 3) * 32 + ((p.width - 1) & 0x1F));
}

void resize(std::vector<std::uint8_t>& message, std::size_t length) {
    message.resize(length, 0);
}

} // namespace

ZxSysExEncoder::ZxSysExEncoder() {
    m_message = {0xF0, 0x44, 0, 0, 0, 0, 0, 0, 0, 0};
}

void ZxSysExEncoder::setModelCode(std::uint16_t code) {
    m_message[2] = static_cast<std::uint8_t>(code >> 8);
    m_message[3] = static_cast<std::uint8_t>(code & 0xFF);
}

void ZxSysExEncoder::setFixedByte(std::uint8_t b) {
    m_message[4] = b;
}

void ZxSysExEncoder::setType(std::uint8_t t) {
    m_type = t;
    m_message[5] = static_cast<std::uint8_t>((m_message[5] & 0x0F) | ((t << 4) & 0xF0));
}

void ZxSysExEncoder::setBlockNumber(std::uint16_t n) {
    if (m_message.size() < kBlockHeaderLength)
        resize(m_message, kBlockHeaderLength);
    m_message[10] = static_cast<std::uint8_t>(n & 0x7F);
    m_message[11] = static_cast<std::uint8_t>((n >> 7) & 0x7F);
}

void ZxSysExEncoder::setBlockLength(std::uint8_t byteCount) {
    resize(m_message, kBlockHeaderLength);
    m_message[12] = static_cast<std::uint8_t>((byteCount >> 1) & 0x7F);
}

void ZxSysExEncoder::encode(std::vector<std::uint8_t>& out) {
    const std::uint8_t kind = m_address ? m_address->kindCode : 0;
    const std::int32_t number = m_address ? m_address->dataNumber : 0;
    m_message[5] = static_cast<std::uint8_t>((m_message[5] & 0xF0) | (kind & 0x0F));
    m_message[8] = static_cast<std::uint8_t>(number & 0x7F);
    m_message[9] = static_cast<std::uint8_t>((number >> 7) & 0x7F);

    switch (m_type) {
    case ZxSysExType::ParamValue:
    case ZxSysExType::ParamRequest: {
        static const ZxSysExParam none;
        const ZxSysExParam& p = m_param ? *m_param : none;
        resize(m_message, kHeaderLength);
        m_message[6] = p.number;
        m_message[7] = layoutByte(p);
        const int indexLength = ((p.indexLength - 1) & 3) + 1;
        for (int i = 0; i < indexLength; ++i)
            m_message.push_back(p.index[static_cast<std::size_t>(i)]);
        if (m_type == ZxSysExType::ParamValue) {
            const int groups = groupCount(((p.width - 1) & 0x1F) + 1);
            for (int i = 0; i < groups; ++i)
                m_message.push_back(static_cast<std::uint8_t>((p.value >> (7 * i)) & 0x7F));
        }
        break;
    }
    case ZxSysExType::DataBlock: {
        resize(m_message, kBlockHeaderLength);
        m_message[6] = 0x00;
        m_message[7] = 0x4F;
        const std::size_t base = ((m_message[11] & 0x7Fu) * 128u + m_message[10]) * 64u;
        const std::size_t count = m_message[12];
        unsigned sum = 0;
        for (std::size_t j = 0; j < count; ++j) {
            if (!m_address || !m_address->words || base + j >= m_address->words->size())
                throw std::out_of_range("data block reaches past the item's words");
            const std::uint16_t word = (*m_address->words)[base + j];
            const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(word & 0x7F),
                                           static_cast<std::uint8_t>((word >> 7) & 0x7F),
                                           static_cast<std::uint8_t>((word >> 14) & 0x7F)};
            for (std::uint8_t b : bytes) {
                m_message.push_back(b);
                sum = (sum + b) & 0x7F;
            }
        }
        m_message.push_back(static_cast<std::uint8_t>((128 - sum) & 0x7F));
        break;
    }
    case ZxSysExType::DataRequest:
        resize(m_message, kHeaderLength);
        m_message[6] = 0x00;
        m_message[7] = 0x00;
        m_message.push_back(0x00);
        break;
    case ZxSysExType::Handshake:
        resize(m_message, kHeaderLength);
        m_message[5] = static_cast<std::uint8_t>((m_message[5] & 0x0F) | 0x70);
        m_message[6] = 0x00;
        m_message[7] = 0x00;
        m_message.push_back(static_cast<std::uint8_t>(m_status & 0x7F));
        break;
    default:
        throw ZxSysExException(ZxSysExException::BadMessage);
    }
    m_message.push_back(kEndOfExclusive);
    out.insert(out.end(), m_message.begin(), m_message.end());
}

void ZxSysExDecoder::decode(const std::vector<std::uint8_t>& in) {
    m_message = in;
    const std::vector<std::uint8_t>& m = m_message;
    // Without the fixed part there is no type to tell; refuse before touching the records.
    if (m.size() < kHeaderLength)
        throw ZxSysExException(ZxSysExException::BadMessage);

    m_type = static_cast<std::uint8_t>(m[5] >> 4);
    if (m_address) {
        m_address->kindCode = static_cast<std::uint8_t>(m[5] & 0x0F);
        m_address->dataNumber = (m[9] & 0x7F) * 128 + (m[8] & 0x7F);
    }

    switch (m_type) {
    case ZxSysExType::ParamValue: {
        const std::uint8_t number = m[6];
        const std::uint8_t indexLength = static_cast<std::uint8_t>(((m[7] >> 5) & 3) + 1);
        const std::uint8_t width = static_cast<std::uint8_t>((m[7] & 0x1F) + 1);
        if (m_param) {
            m_param->number = number;
            m_param->indexLength = indexLength;
            m_param->width = width;
        }
        // The payload is index bytes, value groups, then F7; a reply cut short anywhere in it is
        // refused rather than read beyond its end.
        const std::size_t groups = static_cast<std::size_t>(groupCount(width));
        if (m.size() < kHeaderLength + indexLength + groups + 1)
            throw ZxSysExException(ZxSysExException::NoData);
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < groups; ++i)
            value |= static_cast<std::uint32_t>(m[kHeaderLength + indexLength + i]) << (7 * i);
        if (m_param) {
            for (std::size_t i = 0; i < indexLength; ++i)
                m_param->index[i] = m[kHeaderLength + i];
            m_param->value = value;
        }
        m_value = value;
        break;
    }
    case ZxSysExType::DataBlock: {
        // Block number and word count, whole three-byte groups, checksum, F7.
        if (m.size() < kBlockHeaderLength + 2 || (m.size() - kBlockHeaderLength - 2) % 3 != 0)
            throw ZxSysExException(ZxSysExException::BadMessage);
        m_words.clear();
        unsigned sum = 0;
        const std::size_t end = m.size() - 2;
        for (std::size_t pos = kBlockHeaderLength; pos < end; pos += 3) {
            const unsigned b0 = m[pos], b1 = m[pos + 1], b2 = m[pos + 2];
            m_words.push_back(static_cast<std::uint16_t>(b0 + b1 * 128 + b2 * 16384));
            sum = (sum + b0 + b1 + b2) & 0x7F;
        }
        if (((sum + m[end]) & 0x7F) != 0)
            throw ZxSysExException(ZxSysExException::BadChecksum);
        // An interface that drops a group of three zero bytes keeps the checksum valid and would
        // shift the rest of the item; the word count is the block's only other witness.
        if (m[kBlockHeaderLength - 1] != m_words.size())
            throw ZxSysExException(ZxSysExException::BadChecksum);
        break;
    }
    case ZxSysExType::Handshake:
        if (m.size() < kHeaderLength + 2) // status byte and F7
            throw ZxSysExException(ZxSysExException::BadMessage);
        m_status = m[10];
        break;
    default:
        throw ZxSysExException(ZxSysExException::BadMessage);
    }
}

std::uint16_t ZxSysExDecoder::blockNumber() const {
    if (m_message.size() < 12)
        return 0;
    return static_cast<std::uint16_t>((m_message[11] & 0x7F) * 128 + (m_message[10] & 0x7F));
}

std::uint16_t ZxSysExDecoder::blockLength() const {
    if (m_message.size() < 13)
        return 0;
    return static_cast<std::uint16_t>(2 * m_message[12]);
}
