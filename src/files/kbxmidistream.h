#pragma once
// A data item kept in a slot of the keyboard, moved with the block transfer: numbered 128-byte
// data blocks, each answered with a handshake. The stream owns its own ports, codec and timer;
// the drive's link is never open at the same time.

#include "kbxstream.h"
#include "zxexchange.h"
#include "zxsysex.h"

#include <memory>
#include <string>

class ZxKbdDrv;

class KbxMidiStream : public KbxStream {
public:
    static constexpr int kTimeoutMs = ZxExchange::kTimeoutMs;
    static constexpr int kMaxResends = 16;

    // slotPath: folder path, a backslash, the slot's name ("Tone:\User 3",
    // "Registration:\Bank2\User 1"). A path that names no slot throws std::runtime_error naming
    // the path; nothing is sent.
    KbxMidiStream(const std::string& slotPath, const kbxmidi::DeviceRef& inputDevice,
                  const kbxmidi::DeviceRef& outputDevice);
    // The same on a slot node of the drive's tree. Names need not be unique within a folder
    // (every blank user tone is named with eight blanks), so a caller that holds the node should
    // use this form; a node that is not a slot of the drive throws std::runtime_error.
    KbxMidiStream(ZxData& slot, const kbxmidi::DeviceRef& inputDevice,
                  const kbxmidi::DeviceRef& outputDevice);
    ~KbxMidiStream() override;

    void read(ZxDataFile& item) override;  // import the slot's data into the item
    void write(ZxDataFile& item) override; // send the item into the slot
    std::uint32_t position() override { return m_position; }
    std::uint32_t size() override;

    // The number that addresses the slot in a transfer, by its kind, number and bank; 0 for a
    // node that is no data slot.
    static std::int32_t dataNumber(const ZxData& slot);
    ZxData& slot() { return *m_slot; }
    // After write, also a failed one: whether the old song's delete was asked for (the song may
    // then be gone from the keyboard), and whether the whole item went out with the final
    // handshake (the keyboard then holds it; a later failure is only the refresh of the free
    // space).
    bool deleteAsked() const { return m_deleteAsked; }
    bool committed() const { return m_committed; }
    // True while a transfer holds the MIDI devices; every transfer closes them before it ends.
    bool portsOpen() const;
    // Sees every message of the transfers and every time-out; not owned, nullptr for none.
    void setObserver(ZxExchangeObserver* observer) { m_exchange.setObserver(observer); }

private:
    void findSlot(const std::string& slotPath);
    void fillRequest(ZxDataFile& item);
    void receiveTransfer(std::vector<std::uint16_t>& payload);
    void sendTransfer();
    // The notification handlers, the codec's header and records, and the first message's type.
    void beginTransfer(std::uint8_t firstMessageType);
    void sendBlock(std::uint16_t block, std::uint32_t length);
    void openPorts();
    void closePorts();
    [[noreturn]] void fail(std::int32_t code);

    std::uint32_t m_position = 0;
    kbxmidi::DeviceRef m_inputDevice;
    kbxmidi::DeviceRef m_outputDevice;
    ZxData* m_slot = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    std::string m_folderPath;
    ZxSysExAddress m_request;
    // What the keyboard's replies carry; kept apart from the request so that a reply can never
    // re-address the blocks that follow it.
    ZxSysExAddress m_replyAddress;
    ZxSysExParam m_replyParam;
    bool m_deleteAsked = false;
    bool m_committed = false;
    ZxExchange m_exchange; // after the records its codec points to
};
