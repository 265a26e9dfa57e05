#pragma once
// Tells when the system's MIDI devices come and go. JACK and ALSA announce it: a client of our own
// listens to each that runs. Where nothing announces, the device lists are compared once a
// second, but only while someone asks for it (the preference dialog), since a listing is not free.
//
// One per process, on the GUI thread; the systems' notifications are brought onto it as queued
// calls. Names are the device lists' names (DeviceRegistry::inputNames / outputNames).

#include <QObject>
#include <memory>
#include <string>
#include <vector>

namespace kbxmidi {

class DeviceWatch : public QObject {
    Q_OBJECT
public:
    static DeviceWatch& instance();
    ~DeviceWatch() override;

    // Starts listening to the systems that announce their devices, if the device registry uses
    // the system's devices. Cheap to call again; a JACK server that was not running is looked for
    // again at most once a second.
    void start();
    // Closes the listening clients (a test stops its JACK server after this).
    void stop();
    // Whether some system announces its devices now.
    bool announcing() const;

    // While at least one holder asks, the lists are compared once a second where nothing
    // announces, and a JACK server started later is found.
    void beginPolling();
    void endPolling();

    // A source's report that devices have gone: tells the open ports (devicesRemoved) and the
    // lists (devicesChanged). Public for device sources of tests.
    void reportRemoved(const std::vector<std::string>& names);

Q_SIGNALS:
    // Something came, went or was renamed; the lists are to be read again.
    void devicesChanged();
    // These devices are no longer there.
    void devicesRemoved(const std::vector<std::string>& names);

private:
    DeviceWatch();
    void refreshJack();
    void refreshAlsa();
    void poll();
    void changed(const std::vector<std::string>& removed, bool anything);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kbxmidi
