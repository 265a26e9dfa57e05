#include "zxdata.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kSizeAt = 16;
constexpr std::size_t kModelCodeAt = 20;
constexpr std::size_t kKindAt = 22;
constexpr std::size_t kRegistrationNameAt = 24;

void putBig16(ZxHeader& header, std::size_t at, std::uint16_t value) {
    header[at] = static_cast<std::uint8_t>(value >> 8);
    header[at + 1] = static_cast<std::uint8_t>(value);
}

std::uint16_t getBig16(const ZxHeader& header, std::size_t at) {
    return static_cast<std::uint16_t>(header[at] << 8 | header[at + 1]);
}

// The name's 8 characters, blank-padded; a longer name keeps its first 8.
std::array<char, kNameLength> nameField(const std::string& text) {
    std::array<char, kNameLength> field;
    field.fill(' ');
    std::copy_n(text.begin(), std::min(text.size(), kNameLength), field.begin());
    return field;
}

} // namespace

ZxData::ZxData(std::uint16_t kind)
    : ZxData(kind, ZxAttr::Node) {}

ZxData::ZxData(std::uint16_t kind, std::uint8_t attributes)
    : m_attributes(attributes) {
    static_assert(sizeof(kSignature) == 16, "the signature field is 15 characters and a zero");
    std::memcpy(m_header.data(), kSignature, sizeof(kSignature));
    setKind(kind);
}

std::uint16_t ZxData::kind() const {
    return getBig16(m_header, kKindAt);
}

void ZxData::setKind(std::uint16_t code) {
    putBig16(m_header, kKindAt, code);
}

std::uint32_t ZxData::size() const {
    return std::uint32_t{m_header[kSizeAt]} << 24 | std::uint32_t{m_header[kSizeAt + 1]} << 16 |
           std::uint32_t{m_header[kSizeAt + 2]} << 8 | std::uint32_t{m_header[kSizeAt + 3]};
}

void ZxData::setSize(std::uint32_t bytes) {
    m_header[kSizeAt] = static_cast<std::uint8_t>(bytes >> 24);
    m_header[kSizeAt + 1] = static_cast<std::uint8_t>(bytes >> 16);
    m_header[kSizeAt + 2] = static_cast<std::uint8_t>(bytes >> 8);
    m_header[kSizeAt + 3] = static_cast<std::uint8_t>(bytes);
}

void ZxData::setModelCode(std::uint16_t code) {
    putBig16(m_header, kModelCodeAt, code);
}

ZxDataDrive::ZxDataDrive(std::uint16_t kind)
    : ZxDataDrive(kind, ZxAttr::Node | ZxAttr::Drive) {}

ZxDataDrive::ZxDataDrive(std::uint16_t kind, std::uint8_t attributes)
    : ZxData(kind, attributes) {}

void ZxDataDrive::addChild(std::unique_ptr<ZxData> node) {
    m_children.push_back(std::move(node));
}

bool ZxDataDrive::containsDirectory() const {
    return std::any_of(m_children.begin(), m_children.end(), [](const auto& child) {
        return (child->attributes() & ZxAttr::Directory) != 0;
    });
}

ZxDataDirectory::ZxDataDirectory(std::uint16_t kind)
    : ZxDataDrive(kind, ZxAttr::Node | ZxAttr::Directory) {}

ZxDataFile::ZxDataFile(std::uint16_t kind)
    : ZxData(kind, ZxAttr::Node | ZxAttr::File) {}

void ZxDataFile::setItemName(const std::string& text) {
    // An item's name has 8 characters at most: the text keeps what the data can hold, so that the
    // name read back from a written file is the one shown before.
    ZxData::setName(text.substr(0, std::min(text.size(), kNameLength)));
    const auto field = nameField(text);
    const std::uint16_t kind = this->kind();

    if (kind == ZxKind::Registration) {
        // Each pair of characters is stored swapped: "Preset01" becomes "rPsete10".
        for (std::size_t i = 0; i < kNameLength; i += 2) {
            header()[kRegistrationNameAt + i] = static_cast<std::uint8_t>(field[i + 1]);
            header()[kRegistrationNameAt + i + 1] = static_cast<std::uint8_t>(field[i]);
        }
        return;
    }

    const int offset = ZxKind::nameOffset(kind);
    if (offset < 0)
        return;
    // A payload that ends inside the name field gets the characters that fit; it never grows,
    // since its length is the keyboard's data for the item.
    const std::size_t firstWord = static_cast<std::size_t>(offset) / 2;
    for (std::size_t w = 0; w < kNameLength / 2 && firstWord + w < m_payload.size(); ++w) {
        const auto high = static_cast<std::uint8_t>(field[2 * w]);
        const auto low = static_cast<std::uint8_t>(field[2 * w + 1]);
        m_payload[firstWord + w] = static_cast<std::uint16_t>(high << 8 | low);
    }
}

void ZxDataFile::refreshName() {
    const std::uint16_t kind = this->kind();
    std::string text(kNameLength, ' ');

    if (kind == ZxKind::Registration) {
        for (std::size_t i = 0; i < kNameLength; i += 2) {
            text[i] = static_cast<char>(header()[kRegistrationNameAt + i + 1]);
            text[i + 1] = static_cast<char>(header()[kRegistrationNameAt + i]);
        }
    } else {
        const int offset = ZxKind::nameOffset(kind);
        if (offset < 0)
            return;
        // A payload that ends inside the name field gives the characters it holds and blanks
        // for the rest, so the name is always 8 characters and never read past the data.
        const std::size_t firstWord = static_cast<std::size_t>(offset) / 2;
        for (std::size_t w = 0; w < kNameLength / 2 && firstWord + w < m_payload.size(); ++w) {
            const std::uint16_t word = m_payload[firstWord + w];
            text[2 * w] = static_cast<char>(word >> 8);
            text[2 * w + 1] = static_cast<char>(word & 0xFF);
        }
    }
    ZxData::setName(text);
}

void ZxDataFile::copyAttributes(const ZxData& source) {
    setKind(source.kind());
    setSize(source.size());
    const std::uint16_t kind = this->kind();
    if (kind == ZxKind::Registration)
        setItemName(source.name());
    else if (ZxKind::nameOffset(kind) >= 0)
        refreshName();
}

std::uint64_t songMemoryRoom(std::uint32_t freeMemory, std::uint16_t kind, const ZxData* slot) {
    const bool replacesSong =
        kind == ZxKind::Song && slot && slot->kind() == ZxKind::Song && slot->isPresent();
    return std::uint64_t{freeMemory} + (replacesSong ? slot->size() : 0);
}
