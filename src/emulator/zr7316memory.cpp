#include "zr7316memory.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <stdexcept>
#include <string>
#include <utility>

namespace zr7316 {

namespace {

constexpr std::size_t kToneSize = 60, kDspSize = 36, kRegistrationSize = 176;
constexpr const char* kFormat = "Virtual ZR-7316 memory";
constexpr int kFormatVersion = 1;

int nameOffset(std::uint16_t kind) {
    switch (kind) {
    case kTone:
        return 36;
    case kDsp:
        return 0;
    case kSong:
        return 4;
    case kRhythm:
        return 2;
    default:
        return -1;
    }
}

void putName(Bytes& bytes, std::size_t offset, const char* name) {
    std::string field(name);
    field.resize(8, ' ');
    for (std::size_t i = 0; i < 8 && offset + i < bytes.size(); ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(field[i]);
}

// Factory items: synthetic but shaped like the real thing, parameters kept to 7 bits as a
// keyboard's panel values are.
Bytes factoryTone(const char* name, unsigned seed) {
    Bytes b(kToneSize);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>((seed * 29 + i * 11 + (i * i) % 7) % 128);
    putName(b, 36, name);
    return b;
}

Bytes blankItem(std::uint16_t kind, std::size_t size) {
    Bytes b(size, 0);
    putName(b, nameOffset(kind), "");
    return b;
}

Bytes factoryDsp(const char* name, unsigned type) {
    Bytes b(kDspSize, 0);
    putName(b, 0, name);
    b[8] = static_cast<std::uint8_t>(type);
    for (std::size_t i = 9; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>((type * 17 + i * 5) % 128);
    return b;
}

Bytes factoryRegistration(unsigned number) {
    Bytes b(kRegistrationSize, 0);
    for (std::size_t i = 0; i < b.size(); i += 4) {
        b[i] = static_cast<std::uint8_t>((number * 8 + i / 4) % 100); // tone number
        b[i + 1] = 100;                                               // volume
        b[i + 2] = 64;                                                // pan centre
        b[i + 3] = static_cast<std::uint8_t>(number);                 // DSP number
    }
    return b;
}

// A short melody: tempo and metre, the name, then four-byte events (delta, channel, note,
// velocity) and an end mark. 600 bytes make five data blocks.
Bytes factorySong() {
    static const std::uint8_t notes[] = {67, 60, 62, 64, 65, 67, 60, 60, 69, 65, 67, 69,
                                         71, 72, 60, 60, 65, 67, 65, 64, 62, 64, 65, 64,
                                         62, 60, 62, 64, 62, 60, 59, 60, 62, 64, 60, 62};
    Bytes b(600, 0);
    b[0] = 0x00;
    b[1] = 120; // tempo
    b[2] = 3;   // three beats to the bar
    b[3] = 4;
    putName(b, 4, "Minuet");
    std::size_t pos = 12, n = 0;
    while (pos + 8 <= b.size() - 4) {
        const std::uint8_t note = notes[n++ % sizeof notes];
        const std::uint8_t on[] = {0, 0x90, note, 96}, off[] = {48, 0x80, note, 0};
        std::copy(std::begin(on), std::end(on), b.begin() + pos);
        std::copy(std::begin(off), std::end(off), b.begin() + pos + 4);
        pos += 8;
    }
    const std::uint8_t end[] = {0xFF, 0x2F, 0x00, 0x00};
    std::copy(std::begin(end), std::end(end), b.end() - 4);
    return b;
}

// One bar of a bossa pattern: length, the name, then (step, drum, velocity) hits.
Bytes factoryRhythm() {
    Bytes b(234, 0);
    b[0] = 0x00;
    b[1] = 16; // steps
    putName(b, 2, "Bossa 1");
    std::size_t pos = 10;
    for (std::uint8_t step = 0; pos + 3 <= b.size(); ++step) {
        const std::uint8_t drum = step % 4 == 0 ? 36 : step % 3 == 0 ? 37 : 42;
        b[pos++] = step % 16;
        b[pos++] = drum;
        b[pos++] = static_cast<std::uint8_t>(drum == 42 ? 70 : 100);
    }
    return b;
}

bool isHexText(const QString& s) {
    if (s.size() % 2)
        return false;
    for (QChar c : s)
        if (c.unicode() > 0x7F || !std::isxdigit(static_cast<unsigned char>(c.toLatin1())))
            return false;
    return true;
}

QJsonValue hexValue(const Bytes& bytes) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex());
}

template <std::size_t N>
QJsonArray hexArray(const std::array<Bytes, N>& items) {
    QJsonArray a;
    for (const Bytes& b : items)
        a.append(hexValue(b));
    return a;
}

// Fills items from a JSON array of N hex strings, each of `size` bytes (0: any size).
template <std::size_t N>
bool readArray(const QJsonValue& value, std::size_t size, std::array<Bytes, N>& items) {
    if (!value.isArray() || value.toArray().size() != qsizetype(N))
        return false;
    const QJsonArray a = value.toArray();
    for (std::size_t i = 0; i < N; ++i) {
        if (!a[qsizetype(i)].isString())
            return false;
        const QString text = a[qsizetype(i)].toString();
        if (!isHexText(text))
            return false;
        const QByteArray raw = QByteArray::fromHex(text.toLatin1());
        if (size && std::size_t(raw.size()) != size)
            return false;
        items[i].assign(raw.begin(), raw.end());
    }
    return true;
}

} // namespace

std::optional<Slot> slotOf(std::uint8_t kind, int dataNumber) {
    switch (kind) {
    case kTone:
        if (dataNumber >= 384 && dataNumber < 394)
            return Slot{kTone, dataNumber - 384, 0};
        break;
    case kDsp:
        if (dataNumber >= 100 && dataNumber < 110)
            return Slot{kDsp, dataNumber - 100, 0};
        break;
    case kSong:
        if (dataNumber >= 0 && dataNumber < 2)
            return Slot{kSong, dataNumber, 0};
        break;
    case kRhythm:
        if (dataNumber >= 100 && dataNumber < 104)
            return Slot{kRhythm, dataNumber - 100, 0};
        break;
    case kRegistration:
        if (dataNumber >= 16 && dataNumber < 32)
            return Slot{kRegistration, (dataNumber - 16) / 4, (dataNumber - 16) % 4};
        break;
    default:
        break;
    }
    return std::nullopt;
}

std::size_t fixedSize(std::uint16_t kind) {
    switch (kind) {
    case kTone:
        return kToneSize;
    case kDsp:
        return kDspSize;
    case kRegistration:
        return kRegistrationSize;
    default:
        return 0;
    }
}

Memory::Memory() {
    for (Bytes& b : m_tones)
        b.assign(kToneSize, 0);
    for (Bytes& b : m_dsps)
        b.assign(kDspSize, 0);
    for (Bytes& b : m_registrations)
        b.assign(kRegistrationSize, 0);
}

Memory Memory::factory() {
    Memory m;
    const char* tones[] = {"Brass 1", "EPiano", "Strings", "Synth Ld"};
    for (std::size_t i = 0; i < m.m_tones.size(); ++i)
        m.m_tones[i] = i < std::size(tones) ? factoryTone(tones[i], unsigned(i) + 1)
                                            : blankItem(kTone, kToneSize);
    const char* dsps[] = {"Hall Rev", "Room Rev", "Chorus", "Delay 1"};
    for (std::size_t i = 0; i < m.m_dsps.size(); ++i)
        m.m_dsps[i] =
            i < std::size(dsps) ? factoryDsp(dsps[i], unsigned(i) + 1) : blankItem(kDsp, kDspSize);
    for (unsigned i = 0; i < 4; ++i) // bank 0
        m.m_registrations[i] = factoryRegistration(i);
    m.m_songs[0] = factorySong();
    m.m_rhythms[0] = factoryRhythm();
    return m;
}

Bytes* Memory::item(std::uint16_t kind, int number, int bank) {
    return const_cast<Bytes*>(std::as_const(*this).item(kind, number, bank));
}

const Bytes* Memory::item(std::uint16_t kind, int number, int bank) const {
    auto pick = [number](const auto& items) -> const Bytes* {
        return number >= 0 && std::size_t(number) < items.size() ? &items[number] : nullptr;
    };
    switch (kind) {
    case kTone:
        return pick(m_tones);
    case kDsp:
        return pick(m_dsps);
    case kSong:
        return pick(m_songs);
    case kRhythm:
        return pick(m_rhythms);
    case kRegistration:
        if (bank < 0 || bank > 3 || number < 0 || number > 3)
            return nullptr;
        return &m_registrations[bank * 4 + number];
    default:
        return nullptr;
    }
}

void Memory::set(std::uint16_t kind, int number, int bank, Bytes bytes) {
    Bytes* slot = item(kind, number, bank);
    if (!slot)
        throw std::invalid_argument("no such slot in the ZR-7316");
    const std::size_t fixed = fixedSize(kind);
    if (fixed && bytes.size() != fixed)
        throw std::invalid_argument("wrong size for this kind of ZR-7316 item");
    if (!fixed && bytes.size() > room(Slot{kind, number, bank}))
        throw std::invalid_argument("not enough song memory in the ZR-7316");
    *slot = std::move(bytes);
}

std::uint32_t Memory::freeMemory() const {
    std::size_t used = 0;
    for (const Bytes& b : m_songs)
        used += b.size();
    for (const Bytes& b : m_rhythms)
        used += b.size();
    return used >= kSongMemory ? 0 : std::uint32_t(kSongMemory - used);
}

std::size_t Memory::room(const Slot& slot) const {
    if (const std::size_t fixed = fixedSize(slot.kind))
        return fixed;
    const Bytes* current = item(slot.kind, slot.number, slot.bank);
    return freeMemory() + (current ? current->size() : 0);
}

std::optional<std::uint32_t> Memory::nameHalf(std::uint16_t kind, int number, int bank,
                                              int half) const {
    const Bytes* bytes = item(kind, number, bank);
    const int offset = nameOffset(kind);
    if (!bytes || offset < 0)
        return std::nullopt;
    if (bytes->empty())
        return 0u;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t pos = std::size_t(offset + 4 * half + i);
        value = (value << 8) | (pos < bytes->size() ? (*bytes)[pos] : std::uint8_t(' '));
    }
    return value;
}

QByteArray Memory::toJson() const {
    QJsonObject o;
    o[QStringLiteral("format")] = QString::fromLatin1(kFormat);
    o[QStringLiteral("version")] = kFormatVersion;
    o[QStringLiteral("tones")] = hexArray(m_tones);
    o[QStringLiteral("dsps")] = hexArray(m_dsps);
    QJsonArray banks;
    for (int bank = 0; bank < 4; ++bank) {
        QJsonArray regs;
        for (int n = 0; n < 4; ++n)
            regs.append(hexValue(m_registrations[bank * 4 + n]));
        banks.append(regs);
    }
    o[QStringLiteral("registrations")] = banks;
    o[QStringLiteral("songs")] = hexArray(m_songs);
    o[QStringLiteral("rhythms")] = hexArray(m_rhythms);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<Memory> Memory::fromJson(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("format")).toString() != QLatin1String(kFormat) ||
        o.value(QStringLiteral("version")).toInt(-1) != kFormatVersion)
        return std::nullopt;
    Memory m;
    if (!readArray(o.value(QStringLiteral("tones")), kToneSize, m.m_tones) ||
        !readArray(o.value(QStringLiteral("dsps")), kDspSize, m.m_dsps) ||
        !readArray(o.value(QStringLiteral("songs")), 0, m.m_songs) ||
        !readArray(o.value(QStringLiteral("rhythms")), 0, m.m_rhythms))
        return std::nullopt;
    const QJsonValue banks = o.value(QStringLiteral("registrations"));
    if (!banks.isArray() || banks.toArray().size() != 4)
        return std::nullopt;
    for (int bank = 0; bank < 4; ++bank) {
        std::array<Bytes, 4> regs;
        if (!readArray(banks.toArray()[bank], kRegistrationSize, regs))
            return std::nullopt;
        for (int n = 0; n < 4; ++n)
            m.m_registrations[bank * 4 + n] = std::move(regs[n]);
    }
    std::size_t used = 0;
    for (const Bytes& b : m.m_songs)
        used += b.size();
    for (const Bytes& b : m.m_rhythms)
        used += b.size();
    if (used > kSongMemory)
        return std::nullopt;
    return m;
}

} // namespace zr7316
