#pragma once
// The song memory as a bar under the keyboard list: what the songs use, what the rhythms use and
// what is free, in bytes and to scale. While a song or rhythm file is chosen for sending, the bar
// marks how much that file needs and says whether it fits.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

class ZxData;
class ZxKbdDrv;

struct SongMemory {
    std::uint32_t songs = 0;   // bytes used by the present songs
    std::uint32_t rhythms = 0; // bytes used by the present user rhythms
    std::uint32_t free = 0;    // what the keyboard reported as free
    std::uint32_t total() const { return songs + rhythms + free; }
};

// What the listed drive says about its song memory; none before a list.
std::optional<SongMemory> songMemoryOf(ZxKbdDrv& drive);

// What sending an item of `need` bytes and `kind` into `target` (may be null) has room for: a
// song that replaces a song may use the old song's bytes too, as the old one is deleted first;
// anything else has only the free memory.
std::uint32_t roomFor(const SongMemory& memory, std::uint16_t kind, const ZxData* target);

class MemoryGauge : public QWidget {
    Q_OBJECT
public:
    explicit MemoryGauge(QWidget* parent = nullptr);

    // Shows the memory, or hides the gauge (before a list).
    void setMemory(const std::optional<SongMemory>& memory);
    const std::optional<SongMemory>& memory() const { return m_memory; }
    // Marks what a file chosen for sending needs and how much room it has; clearNeed removes it.
    void setNeed(std::uint32_t need, std::uint32_t room);
    void clearNeed();
    std::optional<std::uint32_t> need() const { return m_need; }
    bool fits() const { return m_need && *m_need <= m_room; }
    // The line of text under the bar.
    QString text() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<SongMemory> m_memory;
    std::optional<std::uint32_t> m_need;
    std::uint32_t m_room = 0;
};
