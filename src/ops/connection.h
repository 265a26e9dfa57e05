#pragma once
// The connection to the keyboard, written once for the window and kbxtool: which MIDI devices to
// use (kept by number and, since numbers move when devices come and go, by name), finding the
// keyboard among the devices, and testing the connection. Failures are std::runtime_error with a
// text in the user's language, or the layers' exceptions, unchanged.

#include "ops/keyboard.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace kbxops {

// kbxman's choice of devices: the numbers, and the names of the devices they meant (empty where
// no name is known, as in settings written before names were kept).
struct DeviceChoice {
    Devices devices;
    QString inputName;
    QString outputName;
};

// The choice stored in kbxman's settings; (0, 0) without names before the first start. Throws
// std::runtime_error like storedDevices().
DeviceChoice storedDeviceChoice();
// Stores the choice in kbxman's settings and leaves the directory as it is. Throws
// std::runtime_error with the store's reason.
void storeDeviceChoice(const DeviceChoice& choice);

// The given numbers with the names the lists give them now (empty for a number outside a list).
DeviceChoice namedChoice(Devices devices, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs);

// Whether two listed names name one device: equal, or equal but for the ALSA address that ends
// an ALSA name ("USB MIDI:USB MIDI MIDI 1 24:0"), which changes when the device is plugged in
// again or its program starts again.
bool sameDevice(const QString& a, const QString& b);

struct Resolution {
    DeviceChoice choice; // the numbers to use now, with the names
    bool moved = false;  // a number differs from the stored one: store the new one
};

// Resolves a stored choice against the device lists, side by side: without a name the number
// stays as it is; a number that still names the device stays; else the first number that names
// it is used; else std::runtime_error "The MIDI device "NAME" is not connected." (in the user's
// language): never whatever device holds the number now.
Resolution resolveDevices(const DeviceChoice& stored, const std::vector<std::string>& inputs,
                          const std::vector<std::string>& outputs);
// The same against the device registry's lists, which are read only when a name is stored.
Resolution resolveDevices(const DeviceChoice& stored);

// ---- finding the keyboard

// One input and one output to try.
struct DevicePair {
    int input = -1;
    int output = -1;
    QString inputName;
    QString outputName;
    bool isVirtual = false; // the built-in virtual keyboard
};

inline constexpr int kMaxDetectPairs = 64;

// Whether an input and an output look like the two sides of one device (equal names apart from
// direction words and addresses, or one JACK or ALSA client).
bool namesMatch(const QString& input, const QString& output);

// The pairs that detect tries, in order: pairs whose names match, then the rest, each group by
// input then output number; the built-in virtual keyboard (virtualInput, virtualOutput; -1 for
// none) last and only with itself. At most kMaxDetectPairs in all, the virtual keyboard included.
std::vector<DevicePair> detectCandidates(const std::vector<std::string>& inputs,
                                         const std::vector<std::string>& outputs, int virtualInput,
                                         int virtualOutput);

class DetectObserver {
public:
    virtual ~DetectObserver() = default;
    // Before the pair numbered index (from 0) of count is tried.
    virtual void trying(const DevicePair& pair, int index, int count) = 0;
    // Asked before each pair; true ends the search.
    virtual bool cancelled() { return false; }
};

struct DetectResult {
    enum Outcome { Found, NotFound, Cancelled } outcome = NotFound;
    DevicePair pair; // Found: where the keyboard answered
    int tried = 0;   // pairs asked
};

// Asks each candidate pair the keyboard-type request, and nothing else (other makers' devices
// ignore its manufacturer byte), with the usual 200 ms time-out, and stops at the first pair that
// answers as a ZR-7316 (type 0). A pair that cannot be opened, stays silent or answers otherwise
// is passed over.
DetectResult detectKeyboard(const std::vector<DevicePair>& candidates,
                            DetectObserver* observer = nullptr);
// The candidates of the device registry's lists.
DetectResult detectKeyboard(DetectObserver* observer = nullptr);

// "No ZR-7316 answered ..." with what to check, in the user's language.
QString detectFailureText(int tried);

// ---- testing the connection

struct PingResult {
    int sent = 0;
    int answered = 0;
    std::vector<double> roundTripsMs; // of the answered requests, in order

    std::optional<double> minMs() const;
    std::optional<double> medianMs() const;
    std::optional<double> maxMs() const;
};

class PingObserver {
public:
    virtual ~PingObserver() = default;
    // After request index (from 0) of count: its round trip, or none when it went unanswered.
    virtual void replied(int index, int count, std::optional<double> roundTripMs) = 0;
    // Asked before each request; true ends the test.
    virtual bool cancelled() { return false; }
};

// Sends count keyboard-type requests one after another on the devices and measures each round
// trip from the request to its reply; a request without a reply within the 200 ms time-out (or
// with a reply that is no parameter value) counts as lost. Devices that cannot be opened, or go
// during the test, end it with the failure.
PingResult pingKeyboard(const Ports& ports, int count, PingObserver* observer = nullptr);

// The summary a person reads: "10 of 10 requests answered; round trip min 1.2 ms, median 1.4
// ms, max 2.0 ms", in the user's language.
QString pingSummaryText(const PingResult& result);
// What to check when requests went unanswered: which socket goes to which, the device choice,
// Find keyboard. In the user's language.
QString pingAdviceText();

} // namespace kbxops
