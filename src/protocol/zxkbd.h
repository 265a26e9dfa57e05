#pragma once
// The keyboard link: turns each question of the drive into one System Exclusive exchange, a
// parameter read (request, reply within 200 ms of the request having left the port) or a
// parameter write (sent, no reply). Waits run the Qt event loop, so user input is dispatched
// meanwhile; the link is not re-entrant. Any failure of an exchange (time-out, a reply the decoder
// refuses, a driver error) closes both ports before it is reported, so the next exchange can open
// them again.

#include "zxexchange.h"
#include "zxsysex.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZxKbd {
public:
    static constexpr int kTimeoutMs = ZxExchange::kTimeoutMs;

    ZxKbd();
    ~ZxKbd();
    ZxKbd(const ZxKbd&) = delete;
    ZxKbd& operator=(const ZxKbd&) = delete;

    // Opens the input port, then the output port (the output is not opened if the input fails).
    void open(const kbxmidi::DeviceRef& inputDevice, const kbxmidi::DeviceRef& outputDevice);
    // Output, then input; closed ports: nothing. The input is released even when closing the
    // output failed; the first failure is then reported.
    void close();
    bool isOpen() const; // either port holds its device

    // Sees every message of the link and every time-out; not owned, nullptr for none.
    void setObserver(ZxExchangeObserver* observer) { m_exchange.setObserver(observer); }

    std::uint32_t readKeyboardType();
    std::uint32_t readFreeMemory();
    std::uint32_t readRhythmSize(int n);
    std::string readRhythmName(int n);
    std::uint32_t readSongSize(int n);
    std::string readSongName(int n);
    std::string readToneName(int slot);
    std::string readDspName(int slot);
    void deleteSong(int n);
    void deleteRhythm(int n);

    // Answers of the known keyboard type, without a message (0 / empty for any other type).
    int toneSize() const;
    int dspSize() const;
    int registrationSize() const;
    std::string presetName(int bank, int number) const;

    // The name of two reply values: four characters each, the first in the most significant
    // byte, a zero byte ending a chunk early.
    static std::string assembleName(std::uint32_t first, std::uint32_t second);

    std::int32_t keyboardType() const { return m_keyboardType; }
    const kbxmidi::DeviceRef& inputDevice() const { return m_inputDevice; }
    const kbxmidi::DeviceRef& outputDevice() const { return m_outputDevice; }

private:
    std::uint32_t requestValue();
    void writeValue();
    std::string requestName();
    void setRequest(std::uint8_t kind, std::int32_t dataNumber, std::uint8_t parameter,
                    std::uint8_t width, std::uint8_t index, std::uint32_t value = 0);

    kbxmidi::DeviceRef m_inputDevice;
    kbxmidi::DeviceRef m_outputDevice;
    std::int32_t m_keyboardType = -1;
    ZxSysExAddress m_address;
    ZxSysExParam m_param;
    ZxExchange m_exchange; // after the records its codec points to
};
