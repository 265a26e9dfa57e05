#include "zxkbd.h"

#include "zxkinds.h"

namespace {

// Parameter numbers of the keyboard's parameter table.
constexpr std::uint8_t kParamKeyboardType = 0;
constexpr std::uint8_t kParamSongDelete = 32;
constexpr std::uint8_t kParamRhythmDelete = 33;
constexpr std::uint8_t kParamFreeMemory = 34;
constexpr std::uint8_t kParamRhythmSize = 35;
constexpr std::uint8_t kParamRhythmName = 36; // and 37
constexpr std::uint8_t kParamSongSize = 38;
constexpr std::uint8_t kParamSongName = 39; // and 40
constexpr std::uint8_t kParamDspName = 48;  // and 49
constexpr std::uint8_t kParamToneName = 96; // and 97

constexpr std::uint8_t kKindSystem = 0;

// The characters of one name chunk: the keyboard packs four characters into a value, the first
// in the most significant byte; a zero byte ends the chunk early.
std::string chunkChars(std::uint32_t value) {
    std::string chars;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<char>((value >> (8 * i)) & 0xFF);
        if (byte == 0)
            break;
        chars.insert(chars.begin(), byte);
    }
    return chars;
}

std::uint8_t index8(int n) {
    return static_cast<std::uint8_t>(n & 0xFF);
}

} // namespace

ZxKbd::ZxKbd() {
    ZxSysExEncoder& encoder = m_exchange.encoder();
    encoder.setModelCode(kModelCode);
    encoder.setFixedByte(kFixedByte);
    encoder.setAddress(m_address);
    encoder.setParam(m_param);
    m_exchange.decoder().setAddress(m_address);
    m_exchange.decoder().setParam(m_param);
}

ZxKbd::~ZxKbd() = default;

void ZxKbd::open(const kbxmidi::DeviceRef& inputDevice, const kbxmidi::DeviceRef& outputDevice) {
    m_inputDevice = inputDevice;
    m_outputDevice = outputDevice;
    m_exchange.open(inputDevice, outputDevice);
}

void ZxKbd::close() {
    m_exchange.close();
}

bool ZxKbd::isOpen() const {
    return m_exchange.isOpen();
}

std::uint32_t ZxKbd::readKeyboardType() {
    setRequest(kKindSystem, 0, kParamKeyboardType, 14, 0);
    const std::uint32_t type = requestValue();
    m_keyboardType = static_cast<std::int32_t>(type);
    return type;
}

std::uint32_t ZxKbd::readFreeMemory() {
    setRequest(kKindSystem, 0, kParamFreeMemory, 32, 0);
    return requestValue();
}

std::uint32_t ZxKbd::readRhythmSize(int n) {
    setRequest(kKindSystem, 0, kParamRhythmSize, 32, index8(n));
    return requestValue();
}

std::string ZxKbd::readRhythmName(int n) {
    setRequest(kKindSystem, 0, kParamRhythmName, 32, index8(n));
    return requestName();
}

std::uint32_t ZxKbd::readSongSize(int n) {
    setRequest(kKindSystem, 0, kParamSongSize, 32, index8(n));
    return requestValue();
}

std::string ZxKbd::readSongName(int n) {
    setRequest(kKindSystem, 0, kParamSongName, 32, index8(n));
    return requestName();
}

std::string ZxKbd::readToneName(int slot) {
    setRequest(ZxKind::Tone, ZxKind::dataNumber(ZxKind::Tone, 0, slot), kParamToneName, 32, 0);
    return requestName();
}

std::string ZxKbd::readDspName(int slot) {
    setRequest(ZxKind::Dsp, ZxKind::dataNumber(ZxKind::Dsp, 0, slot), kParamDspName, 32, 0);
    return requestName();
}

void ZxKbd::deleteSong(int n) {
    setRequest(kKindSystem, 0, kParamSongDelete, 8, 0, static_cast<std::uint32_t>(n) & 0xFF);
    writeValue();
}

void ZxKbd::deleteRhythm(int n) {
    setRequest(kKindSystem, 0, kParamRhythmDelete, 8, 0, static_cast<std::uint32_t>(n) & 0xFF);
    writeValue();
}

int ZxKbd::toneSize() const {
    return m_keyboardType == 0 ? 60 : 0;
}

int ZxKbd::dspSize() const {
    return m_keyboardType == 0 ? 36 : 0;
}

int ZxKbd::registrationSize() const {
    return m_keyboardType == 0 ? 176 : 0;
}

std::string ZxKbd::presetName(int bank, int number) const {
    if (m_keyboardType != 0)
        return {};
    std::string name = "Preset";
    name += static_cast<char>('0' + bank);
    name += static_cast<char>('1' + number);
    return name;
}

std::string ZxKbd::assembleName(std::uint32_t first, std::uint32_t second) {
    return chunkChars(first) + chunkChars(second);
}

void ZxKbd::setRequest(std::uint8_t kind, std::int32_t dataNumber, std::uint8_t parameter,
                       std::uint8_t width, std::uint8_t index, std::uint32_t value) {
    m_address.kindCode = kind;
    m_address.dataNumber = dataNumber;
    m_param.number = parameter;
    m_param.width = width;
    m_param.indexLength = 1;
    m_param.index = {index, 0, 0, 0};
    m_param.value = value;
}

std::uint32_t ZxKbd::requestValue() {
    m_exchange.requireOpen();
    m_exchange.encoder().setType(ZxSysExType::ParamRequest);
    m_exchange.request();
    m_param.value = m_exchange.decoder().value();
    return m_param.value;
}

void ZxKbd::writeValue() {
    m_exchange.requireOpen();
    m_exchange.encoder().setType(ZxSysExType::ParamValue);
    m_exchange.send();
}

std::string ZxKbd::requestName() {
    const std::uint32_t first = requestValue();
    // The reply has written its own parameter number into the record; the second half of the
    // name is the parameter after it.
    m_param.number = static_cast<std::uint8_t>(m_param.number + 1);
    const std::uint32_t second = requestValue();
    return assembleName(first, second);
}
