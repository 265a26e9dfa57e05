#include "zxkbd.h"

#include "zxmidi.h"

#include <QCoreApplication>
#include <QTimer>
#include <stdexcept>

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
constexpr std::uint8_t kKindTone = 2;
constexpr std::uint8_t kKindDsp = 9;
constexpr std::int32_t kToneDataBase = 384;
constexpr std::int32_t kDspDataBase = 100;

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

ZxKbd::ZxKbd()
    : m_out(std::make_unique<ZxMidiOut>())
    , m_in(std::make_unique<ZxMidiIn>())
    , m_outObserver(std::make_unique<ZxMidiObserver>())
    , m_inObserver(std::make_unique<ZxMidiObserver>())
    , m_timer(std::make_unique<QTimer>()) {
    m_encoder.setModelCode(kModelCode);
    m_encoder.setFixedByte(kFixedByte);
    m_encoder.setAddress(m_address);
    m_encoder.setParam(m_param);
    m_decoder.setAddress(m_address);
    m_decoder.setParam(m_param);

    m_out->attach(m_outObserver.get());
    m_in->attach(m_inObserver.get());

    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kTimeoutMs);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { timedOut(); });
}

ZxKbd::~ZxKbd() {
    m_timer->stop();
    try {
        close();
    } catch (...) {
        // A destructor cannot report a driver failure; the devices are released regardless.
    }
}

void ZxKbd::open(int inputDevice, int outputDevice) {
    m_inputDevice = inputDevice;
    m_outputDevice = outputDevice;
    // Notifications queued before a close never arrive after an open (the ports drop them), so
    // nothing of an earlier exchange is still outstanding.
    m_outputsPending = 0;
    m_in->open(inputDevice);
    m_out->open(outputDevice);
}

void ZxKbd::close() {
    m_timer->stop();
    m_outputsPending = 0;
    // Release the input even when closing the output failed, so no device stays held; the first
    // failure is reported.
    std::exception_ptr failure;
    try {
        m_out->close();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        m_in->close();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ZxKbd::closeQuietly() noexcept {
    try {
        close();
    } catch (...) {
        // The failure that ended the exchange is the one worth reporting.
    }
}

bool ZxKbd::isOpen() const {
    return m_in->isOpen() || m_out->isOpen();
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
    setRequest(kKindTone, kToneDataBase + slot, kParamToneName, 32, 0);
    return requestName();
}

std::string ZxKbd::readDspName(int slot) {
    setRequest(kKindDsp, kDspDataBase + slot, kParamDspName, 32, 0);
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
    requireOpen();
    m_reading = true;
    m_outObserver->setHandler([this] { outputDone(); });
    m_inObserver->setHandler([this] { replyArrived(); });
    try {
        m_encoder.setType(ZxSysExType::ParamRequest);
        send();
        wait();
        m_timer->stop();
        if (m_timedOut) {
            close();
            throw ZxSysExException(ZxSysExException::Timeout);
        }
        m_received.clear();
        m_in->lastMessage(m_received);
        m_decoder.decode(m_received);
    } catch (...) {
        // Whatever ended the exchange, the devices are released so the next one can open them.
        m_timer->stop();
        closeQuietly();
        throw;
    }
    m_param.value = m_decoder.value();
    return m_param.value;
}

void ZxKbd::writeValue() {
    requireOpen();
    m_reading = false;
    m_outObserver->setHandler([this] { outputDone(); });
    m_inObserver->setHandler({});
    try {
        m_encoder.setType(ZxSysExType::ParamValue);
        send();
        wait();
    } catch (...) {
        closeQuietly();
        throw;
    }
}

std::string ZxKbd::requestName() {
    const std::uint32_t first = requestValue();
    // The reply has written its own parameter number into the record; the second half of the
    // name is the parameter after it.
    m_param.number = static_cast<std::uint8_t>(m_param.number + 1);
    const std::uint32_t second = requestValue();
    return assembleName(first, second);
}

void ZxKbd::send() {
    m_done = false;
    m_timedOut = false;
    m_sent.clear();
    m_encoder.encode(m_sent);
    m_out->loadMessage(m_sent);
    ++m_outputsPending;
    m_out->sendMessage();
}

void ZxKbd::wait() {
    while (!m_done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // A device the system reports gone ends the wait now, not at the time-out.
        m_in->checkDevice();
        m_out->checkDevice();
    }
}

void ZxKbd::requireOpen() const {
    if (!m_in->isOpen() || !m_out->isOpen())
        throw std::runtime_error("MIDI SYSTEM ERROR: the keyboard link is not open");
}

void ZxKbd::outputDone() {
    if (m_outputsPending > 0)
        --m_outputsPending;
    // A notification of an earlier message (one whose reply overtook it) must neither end this
    // exchange nor start its time-out early; only the last message sent counts.
    if (m_done || m_outputsPending > 0)
        return;
    if (m_reading)
        m_timer->start();
    else
        m_done = true;
}

void ZxKbd::replyArrived() {
    if (m_done)
        return;
    m_timer->stop();
    m_done = true;
}

void ZxKbd::timedOut() {
    m_timer->stop();
    if (m_done)
        return;
    m_timedOut = true;
    m_done = true;
}
