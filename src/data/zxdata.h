#pragma once
// The in-memory model of the keyboard's storage and of the data items that travel between the
// keyboard and data files. Every node carries the complete 64-byte data-file header as raw
// big-endian bytes, so an item is written to a file by copying header and payload unchanged.
// Nodes are told apart by their attribute bits (1 every node, 2 drive, 4 directory, 8 file).

#include "zxkinds.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ZxAttr {
inline constexpr std::uint8_t Node = 1;
inline constexpr std::uint8_t Drive = 2;
inline constexpr std::uint8_t Directory = 4;
inline constexpr std::uint8_t File = 8;
} // namespace ZxAttr

inline constexpr std::size_t kHeaderSize = 64;
inline constexpr char kSignature[] = "VELMO Music Lib"; // 15 characters, then a zero byte
inline constexpr std::size_t kNameLength = 8;

using ZxHeader = std::array<std::uint8_t, kHeaderSize>;

// One node: a slot of the keyboard when plain.
class ZxData {
public:
    explicit ZxData(std::uint16_t kind);
    virtual ~ZxData() = default; // children are owned through base pointers
    ZxData(const ZxData&) = delete;
    ZxData& operator=(const ZxData&) = delete;

    std::string name() const { return m_name; }
    // The shown text only; an item's stored name changes with ZxDataFile::setItemName.
    void setName(const std::string& text) { m_name = text; }

    std::uint16_t kind() const;
    void setKind(std::uint16_t code);
    std::uint32_t size() const;
    void setSize(std::uint32_t bytes);
    void setModelCode(std::uint16_t code);

    std::int32_t bank() const { return m_bank; }
    void setBank(std::int32_t n) { m_bank = n; }
    std::int32_t number() const { return m_number; }
    void setNumber(std::int32_t n) { m_number = n; }

    bool isPresent() const { return m_present; }
    void setPresent() { m_present = true; }
    void setAbsent() { m_present = false; }

    std::uint8_t attributes() const { return m_attributes; }

    ZxHeader& header() { return m_header; }
    const ZxHeader& header() const { return m_header; }

protected:
    ZxData(std::uint16_t kind, std::uint8_t attributes);

private:
    std::string m_name;
    std::int32_t m_bank = 0;
    std::int32_t m_number = 0;
    bool m_present = false;
    ZxHeader m_header{};
    std::uint8_t m_attributes;
};

// A folder with children and a capacity; the top-level folders of the keyboard drive.
class ZxDataDrive : public ZxData {
public:
    explicit ZxDataDrive(std::uint16_t kind);

    void addChild(std::unique_ptr<ZxData> node);
    int childCount() const { return static_cast<int>(m_children.size()); }
    ZxData* child(int i) const { return m_children[static_cast<std::size_t>(i)].get(); }
    bool containsDirectory() const;

    std::int32_t freeSpace() const { return m_freeSpace; }
    void setFreeSpace(std::int32_t n) { m_freeSpace = n; }
    std::int32_t capacity() const { return m_capacity; }
    void setCapacity(std::int32_t n) { m_capacity = n; }
    std::int32_t usedSpace() const { return m_capacity - m_freeSpace; }

protected:
    ZxDataDrive(std::uint16_t kind, std::uint8_t attributes);

private:
    std::int32_t m_freeSpace = 0;
    std::int32_t m_capacity = 0;
    std::vector<std::unique_ptr<ZxData>> m_children;
};

// A subfolder (attributes 5: bit 2 is not set although it derives from ZxDataDrive).
class ZxDataDirectory : public ZxDataDrive {
public:
    explicit ZxDataDirectory(std::uint16_t kind);
};

// A data item with its payload: 16-bit words, word i holding payload bytes 2i (bits 8-15) and
// 2i+1 (bits 0-7).
class ZxDataFile : public ZxData {
public:
    explicit ZxDataFile(std::uint16_t kind);

    std::vector<std::uint16_t>& payload() { return m_payload; }
    const std::vector<std::uint16_t>& payload() const { return m_payload; }

    // Sets the name text and writes the name (first 8 characters, blank-padded) into the data.
    void setItemName(const std::string& text);
    // Replaces the name text by the 8 characters stored in the data.
    void refreshName();
    // Takes kind, size and name from the source (a slot or another item).
    void copyAttributes(const ZxData& source);

private:
    std::vector<std::uint16_t> m_payload;
};

// The song memory an item of `kind` has when it is sent into `slot` (may be null) while the
// keyboard reports `freeMemory` bytes free: a song that replaces a song may use the old song's
// bytes too, as the old one is deleted first; anything else has the free memory only. The send
// and the window's gauge both ask this, so that they never disagree.
std::uint64_t songMemoryRoom(std::uint32_t freeMemory, std::uint16_t kind, const ZxData* slot);
