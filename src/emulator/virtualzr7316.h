#pragma once
// The virtual ZR-7316: the keyboard's side of the System Exclusive protocol, answering exactly as
// the instrument would. It holds 10 user tones (60 bytes), 10 DSP settings (36), 16 registrations
// (176), and 2 songs and 4 user rhythms sharing 21504 bytes of song memory.
//
// It lives on the GUI thread. Messages come in through receive(); replies leave through the reply
// sink, always later from the event loop (a timer), never from inside receive().

#include "wholefile.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QTimer;

class VirtualZr7316 : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint32_t kSongMemory = 21504;
    static constexpr int kTones = 10, kDsps = 10, kBanks = 4, kRegistrationsPerBank = 4;
    static constexpr int kSongs = 2, kRhythms = 4;
    static constexpr std::size_t kToneSize = 60, kDspSize = 36, kRegistrationSize = 176;

    // Fault switches. Message counters count every message received since setFaults().
    struct Faults {
        int noReplyTo = -1;   // message n (0-based) gets no reply, but still takes effect
        int silentFrom = -1;  // message n and every later one get no reply
        int dropEvery = 0;    // every n-th message (the n-th, the 2n-th, ...) gets no reply,
                              // as a cable or interface that loses messages
        int replyDelayMs = 0; // every reply leaves this much later
        std::uint32_t keyboardType = 0;
        int badChecksumBlock = -1;  // data block n that the keyboard sends has a wrong checksum
        int dropZeroWordBlock = -1; // data block n that the keyboard sends loses the three bytes
                                    // of its first zero word (nothing if it has none), as a MIDI
                                    // interface that drops a run of zeros: the checksum holds,
                                    // the word count (byte 12) no longer does
        int handshakeAtBlock = -1;  // receiving: block n is answered with handshakeStatus
                                    // (and, unless the status is 1, not stored);
                                    // sending: handshakeStatus is sent in place of block n
        std::uint8_t handshakeStatus = 2;
        int handshakeTimes = -1;    // how often handshakeAtBlock strikes; -1: every time, so a
                                    // host that sends the block again meets it again
        int unexpectedAt = -1;      // message n is answered with a message of a type the host
                                    // does not expect (a data request), nothing else
        int corruptStoredByte = -1; // every item the keyboard commits from the host is stored
                                    // with byte n (the last one if n is past the end) flipped
                                    // in its lowest bit, as a failing memory would
        bool wireSpeed = false;     // pace what the keyboard sends at 31250 baud (320 us per
                                    // byte, replies queued one after another on the wire); the
                                    // device backend paces the host's direction
    };

    explicit VirtualZr7316(QObject* parent = nullptr);
    ~VirtualZr7316() override;

    // Host to keyboard: one complete message.
    void receive(const std::vector<std::uint8_t>& message);
    // Keyboard to host.
    void setReplySink(std::function<void(const std::vector<std::uint8_t>&)> sink);

    // Contents. Kinds as in the data tree (2 tone, 9 DSP, 10 song, 11 rhythm, 12 registration);
    // bank only for registrations. An empty song or rhythm has no bytes. itemBytes of a slot
    // that does not exist is empty; setItemBytes throws std::invalid_argument for a slot that
    // does not exist, a tone, DSP setting or registration of the wrong size, or a song or rhythm
    // that does not fit the song memory (the item it replaces counts as free).
    void factoryReset(); // plausible factory contents
    void wipe();         // tones, DSP settings, registrations zero-filled; no songs or rhythms
    std::vector<std::uint8_t> itemBytes(std::uint16_t kind, int number, int bank = 0) const;
    void setItemBytes(std::uint16_t kind, int number, int bank, std::vector<std::uint8_t> bytes);
    std::uint32_t freeMemory() const;

    // Persistence: with a path, the memory is loaded from it (factory contents when missing)
    // and written atomically after every committed change. Empty path: memory only. A file
    // that cannot be read as a state file is renamed to <path>.bad and factory contents are used.
    void setStateFile(const QString& path);
    QString stateFile() const;
    // Writes the state file; false when it cannot (the file keeps what it held), and the reason
    // waits in takeSaveFailure() for the action that made the change.
    bool save() const;
    std::optional<kbxio::FileError> takeSaveFailure();
    // In the user's application-data folder; under the test runner (KBX_TEST=1) the file
    // KBX_VIRTUAL_STATE names, when set.
    static QString defaultStateFile();

    void setFaults(const Faults& faults);
    const Faults& faults() const;

    // Every message received (for tests: the exact request sequence) and sent.
    const std::vector<std::vector<std::uint8_t>>& received() const;
    const std::vector<std::vector<std::uint8_t>>& sent() const;
    void clearLog(); // also clears unexpected()

    // Strict mode: every message the keyboard did not expect in its state (malformed, unknown
    // parameter or slot, a handshake outside a transfer, a block out of order, a transfer that
    // ends incomplete, ...) is recorded as "<why>: <hex bytes>". The keyboard still answers as
    // it would otherwise.
    void setStrict(bool strict);
    bool isStrict() const;
    const std::vector<std::string>& unexpected() const;

private:
    struct Impl;
    Impl* m_impl;
};
