#pragma once
// What the virtual ZR-7316 stores: its fixed slots, song memory, factory contents and the state
// file that keeps them between runs. Internal to the emulator.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zr7316 {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kTone = 2, kDsp = 9, kSong = 10, kRhythm = 11, kRegistration = 12;
inline constexpr std::size_t kSongMemory = 21504;
inline constexpr qint64 kLargestStateFile = 4 * 1024 * 1024;

// One slot of the keyboard; bank only for registrations.
struct Slot {
    std::uint16_t kind = 0;
    int number = 0;
    int bank = 0;
};

// The slot that a transfer addresses by kind code and data number: tone 384 + n, DSP 100 + n,
// song n, rhythm 100 + n, registration 16 + 4 x number + bank.
std::optional<Slot> slotOf(std::uint8_t kind, int dataNumber);

// 60, 36 or 176 for tones, DSP settings and registrations; 0 for songs and rhythms.
std::size_t fixedSize(std::uint16_t kind);

class Memory {
public:
    // Zero-filled tones, DSP settings and registrations; no songs or rhythms.
    Memory();
    static Memory factory();

    // The slot's bytes, or null for a slot that does not exist.
    Bytes* item(std::uint16_t kind, int number, int bank);
    const Bytes* item(std::uint16_t kind, int number, int bank) const;
    // Throws std::invalid_argument (see VirtualZr7316::setItemBytes).
    void set(std::uint16_t kind, int number, int bank, Bytes bytes);

    std::uint32_t freeMemory() const;
    // The most bytes the slot can take: the fixed size, or the free song memory plus what the
    // slot holds now.
    std::size_t room(const Slot& slot) const;

    // Half 0 or 1 of the slot's 8-character name as one value, the first character in the most
    // significant byte; 0 for an empty slot; nothing for a slot that does not exist.
    std::optional<std::uint32_t> nameHalf(std::uint16_t kind, int number, int bank, int half) const;

    QByteArray toJson() const;
    // Nothing unless the text is a complete, consistent state file.
    static std::optional<Memory> fromJson(const QByteArray& text);

private:
    std::array<Bytes, 10> m_tones;
    std::array<Bytes, 10> m_dsps;
    std::array<Bytes, 16> m_registrations; // bank * 4 + number
    std::array<Bytes, 2> m_songs;
    std::array<Bytes, 4> m_rhythms;
};

} // namespace zr7316
