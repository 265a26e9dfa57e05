#include "kbxmidistream.h"

#include "mididevices.h"
#include "virtualzr7316.h"
#include "wholefile.h"
#include "zr7316memory.h"
#include "zxcancel.h"
#include "zxkbddrv.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {

constexpr std::uint8_t kSlotMask = ZxAttr::Node | ZxAttr::File; // 9: every entry of a folder
constexpr std::uint32_t kBlockBytes = 128;
constexpr std::uint32_t kBlockWords = kBlockBytes / 2;
constexpr std::uint8_t kNoHandshake = 0xFF; // the reply was no handshake at all

// The folder path of the drive's folder that holds `entry` directly, without a final backslash
// ("Tone:", "Registration:\Bank2"); empty when the entry is not a slot of the layout.
std::string folderOf(const ZxKbdDrv& drive, const ZxData* entry) {
    for (int i = 0; i < drive.folderCount(); ++i) {
        const std::string top = drive.folderName(i);
        const ZxDataDrive* folder = drive.folderByName(top);
        if (!folder)
            continue;
        for (int c = 0; c < folder->childCount(); ++c) {
            const ZxData* child = folder->child(c);
            if (child == entry)
                return top;
            if (!(child->attributes() & ZxAttr::Directory))
                continue;
            const auto* sub = static_cast<const ZxDataDrive*>(child);
            for (int s = 0; s < sub->childCount(); ++s)
                if (sub->child(s) == entry)
                    return top + '\\' + sub->name();
        }
    }
    return {};
}

std::string withoutFinalBackslashes(std::string path) {
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

} // namespace

KbxMidiStream::KbxMidiStream(const std::string& slotPath, const kbxmidi::DeviceRef& inputDevice,
                             const kbxmidi::DeviceRef& outputDevice)
    : m_inputDevice(inputDevice)
    , m_outputDevice(outputDevice) {
    findSlot(slotPath);
}

KbxMidiStream::KbxMidiStream(ZxData& slot, const kbxmidi::DeviceRef& inputDevice,
                             const kbxmidi::DeviceRef& outputDevice)
    : m_inputDevice(inputDevice)
    , m_outputDevice(outputDevice) {
    m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
    const std::string folder = folderOf(*m_drive, &slot);
    if (folder.empty() || (slot.attributes() & (ZxAttr::Drive | ZxAttr::Directory)))
        throw std::runtime_error("\"" + slot.name() + "\" is no slot of the keyboard drive");
    // A top-level folder's path keeps its backslash, as one taken from a slot path does.
    m_folderPath = folder.find('\\') == std::string::npos ? folder + '\\' : folder;
    m_slot = &slot;
}

KbxMidiStream::~KbxMidiStream() = default;

void KbxMidiStream::findSlot(const std::string& slotPath) {
    const auto fail = [&slotPath] {
        throw std::runtime_error("No slot of the keyboard drive at \"" + slotPath + "\"");
    };
    const std::size_t last = slotPath.rfind('\\');
    if (last == std::string::npos)
        fail();
    // A top-level folder keeps its backslash ("Tone:\"), a subfolder does not.
    m_folderPath = slotPath.substr(0, last > 0 && slotPath[last - 1] == ':' ? last + 1 : last);
    const std::string slotName = slotPath.substr(last + 1);

    m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
    ZxData* entry = nullptr;
    ZxData* found = nullptr;
    if (m_drive->findFirst(m_folderPath, kSlotMask, entry)) {
        do {
            if (entry && entry->name() == slotName) {
                found = entry;
                break;
            }
        } while (m_drive->findNext(entry));
        m_drive->findClose();
    }
    // The drive resolves an unknown subfolder to the folder above it and matches names by
    // prefix; a slot only counts when it sits in exactly the folder that the path names.
    if (!found || (found->attributes() & (ZxAttr::Drive | ZxAttr::Directory)) ||
        folderOf(*m_drive, found) != withoutFinalBackslashes(m_folderPath))
        fail();
    m_slot = found;
}

std::int32_t KbxMidiStream::dataNumber(const ZxData& slot) {
    return ZxKind::dataNumber(slot.kind(), slot.bank(), slot.number());
}

std::uint32_t KbxMidiStream::size() {
    return m_slot->size();
}

bool KbxMidiStream::portsOpen() const {
    return m_exchange.isOpen();
}

void KbxMidiStream::fillRequest(ZxDataFile& item) {
    m_request.kindCode = static_cast<std::uint8_t>(m_slot->kind());
    m_request.byteCount = static_cast<std::int32_t>(m_slot->size());
    m_request.dataNumber = dataNumber(*m_slot);
    m_request.words = &item.payload();
}

void KbxMidiStream::read(ZxDataFile& item) {
    fillRequest(item);
    // Room for every announced byte (an odd last byte sits in the high half of a word); nothing
    // of the item's earlier payload survives.
    item.payload().assign((m_slot->size() + 1) / 2, 0);
    receiveTransfer(item.payload());
    item.copyAttributes(*m_slot);
}

void KbxMidiStream::write(ZxDataFile& item) {
    // Refusals come before anything in the keyboard or the tree changes.
    if (item.kind() != m_slot->kind())
        throw KbxStreamException(KbxStreamException::KindMismatch);
    // An item of no bytes, of another size than its kind has, or promising more bytes than it
    // holds is no item: sending it would empty a song slot and store nothing. Items travel in
    // whole words, so an odd size would come back one byte longer than it was.
    const std::size_t fixed = zr7316::fixedSize(item.kind());
    if (item.size() == 0 || item.size() % 2 != 0 || (fixed && item.size() != fixed) ||
        (std::uint64_t{item.size()} + 1) / 2 > item.payload().size())
        throw KbxStreamException(KbxStreamException::NotKbxFile);
    m_deleteAsked = false;
    m_committed = false;
    if (item.kind() == ZxKind::Song || item.kind() == ZxKind::Rhythm) {
        // The old song is deleted before the new one goes, so its bytes count as free; a rhythm
        // replaces its slot's rhythm only on the keyboard's own terms and keeps the plain check.
        if (songMemoryRoom(m_drive->freeSongMemory(), item.kind(), m_slot) < item.size())
            throw KbxStreamException(KbxStreamException::NotEnoughMemory);
        if (item.kind() == ZxKind::Song) {
            // From here the old song may be gone, even if the delete reports a failure.
            m_deleteAsked = true;
            m_drive->deleteItem(*m_slot);
        }
    }
    m_slot->setSize(item.size());
    fillRequest(item);
    sendTransfer();
    m_committed = true;

    m_slot->setName(item.name());
    m_slot->setPresent();
    item.setBank(m_slot->bank());
    item.setNumber(m_slot->number());
    // The keyboard holds the item now; a cancel must not report the send as not done.
    const ZxCancellation::Hold hold;
    m_drive->refreshFreeSpace(m_folderPath.substr(0, m_folderPath.find('\\')));
    // The built-in keyboard of this process has taken the item (its reply to the free-space
    // request comes after) but may have failed to keep it in its state file; it then holds
    // what the file holds, and the item is not stored.
    if (std::optional<kbxio::FileError> failure =
            kbxmidi::DeviceRegistry::instance().virtualKeyboard().takeSaveFailure()) {
        m_committed = false;
        throw *failure;
    }
}

void KbxMidiStream::openPorts() {
    m_exchange.open(m_inputDevice, m_outputDevice);
}

void KbxMidiStream::closePorts() {
    m_exchange.close();
}

void KbxMidiStream::fail(std::int32_t code) {
    closePorts();
    throw ZxSysExException(code);
}

void KbxMidiStream::beginTransfer(std::uint8_t firstMessageType) {
    ZxSysExEncoder& encoder = m_exchange.encoder();
    encoder.setModelCode(kModelCode);
    encoder.setFixedByte(kFixedByte);
    encoder.setType(firstMessageType);
    encoder.setAddress(m_request);
    m_exchange.decoder().setAddress(m_replyAddress);
    m_exchange.decoder().setParam(m_replyParam);
}

void KbxMidiStream::receiveTransfer(std::vector<std::uint16_t>& payload) {
    beginTransfer(ZxSysExType::DataRequest);
    ZxSysExEncoder& encoder = m_exchange.encoder();
    const ZxSysExDecoder& decoder = m_exchange.decoder();

    m_position = 0;
    // Blocks of the announced size that have arrived: an end before all of them is no item.
    std::vector<bool> arrived((payload.size() + kBlockWords - 1) / kBlockWords, false);
    try {
        openPorts();
        for (;;) {
            m_exchange.request();
            if (decoder.type() == ZxSysExType::DataBlock) {
                const auto& words = decoder.words();
                const std::size_t first = std::size_t{kBlockWords} * decoder.blockNumber();
                if (first > payload.size() || words.size() > payload.size() - first)
                    fail(ZxSysExException::BadMessage); // more than the slot announced: nothing is
                                                        // stored past the payload
                std::copy(words.begin(), words.end(),
                          payload.begin() + static_cast<std::ptrdiff_t>(first));
                if (!words.empty())
                    arrived[decoder.blockNumber()] = true;
                m_position += decoder.blockLength();
                notifyAll();
                encoder.setType(ZxSysExType::Handshake);
                encoder.setStatus(ZxSysExStatus::Accepted);
                continue;
            }
            if (decoder.type() == ZxSysExType::Handshake) {
                switch (decoder.status()) {
                case ZxSysExStatus::End:
                    if (!std::all_of(arrived.begin(), arrived.end(), [](bool b) { return b; }))
                        fail(ZxSysExException::CommunicationError); // ended early: a partly filled
                                                                    // item must not pass for the
                                                                    // whole
                    break;
                case ZxSysExStatus::Rejected:
                    fail(ZxSysExException::Rejected);
                case ZxSysExStatus::Error:
                    fail(ZxSysExException::CommunicationError);
                default:
                    fail(ZxSysExException::UnknownStatus);
                }
                break;
            }
            // A parameter value in the middle of a data read: tell the keyboard to stop, and
            // report the read as failed rather than hand on a partly filled item.
            encoder.setType(ZxSysExType::Handshake);
            encoder.setStatus(ZxSysExStatus::Error);
            m_exchange.send();
            fail(ZxSysExException::BadMessage);
        }
    } catch (...) {
        try {
            closePorts();
        } catch (...) {
            // The transfer's own failure is the one worth reporting.
        }
        throw;
    }
    closePorts();
}

void KbxMidiStream::sendBlock(std::uint16_t block, std::uint32_t length) {
    ZxSysExEncoder& encoder = m_exchange.encoder();
    const ZxSysExDecoder& decoder = m_exchange.decoder();
    for (int resends = 0;; ++resends) {
        encoder.setBlockNumber(block);
        // An odd last byte travels in the high half of one more word.
        encoder.setBlockLength(static_cast<std::uint8_t>(length + (length & 1)));
        m_exchange.request();
        // Only a handshake answers a block; anything else must not pass for the status of an
        // earlier handshake.
        const std::uint8_t status =
            decoder.type() == ZxSysExType::Handshake ? decoder.status() : kNoHandshake;
        switch (status) {
        case ZxSysExStatus::Accepted:
            return;
        case ZxSysExStatus::Rejected:
            fail(ZxSysExException::Rejected);
        case ZxSysExStatus::Error:
            fail(ZxSysExException::CommunicationError);
        default:
            // Sent again, but not for ever: a keyboard that never accepts ends the transfer.
            if (resends == kMaxResends)
                fail(ZxSysExException::UnknownStatus);
        }
    }
}

void KbxMidiStream::sendTransfer() {
    beginTransfer(ZxSysExType::DataBlock);
    ZxSysExEncoder& encoder = m_exchange.encoder();

    std::uint16_t block = 0;
    auto remaining = static_cast<std::uint32_t>(m_request.byteCount);
    m_position = 0;
    try {
        openPorts();
        while (remaining > 0) {
            const std::uint32_t length = std::min(remaining, kBlockBytes);
            sendBlock(block, length);
            remaining -= length;
            ++block;
            m_position += length;
            notifyAll();
        }
        // End of transfer: the keyboard commits the item and answers nothing, so only the
        // report that the handshake has left the port is awaited.
        encoder.setType(ZxSysExType::Handshake);
        encoder.setStatus(ZxSysExStatus::End);
        m_exchange.send();
    } catch (...) {
        try {
            closePorts();
        } catch (...) {
            // The transfer's own failure is the one worth reporting.
        }
        throw;
    }
    closePorts();
}
