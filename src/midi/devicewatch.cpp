#include "devicewatch.h"

#include "mididevices.h"
#include "rtmidisupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <set>

#if defined(KBX_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif
#if defined(KBX_HAVE_JACK)
#include <jack/jack.h>
#endif

namespace kbxmidi {

namespace {

constexpr int kPollMs = 1000;

std::vector<std::string> missingFrom(const std::set<std::string>& before,
                                     const std::set<std::string>& after) {
    std::vector<std::string> gone;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(gone));
    return gone;
}

} // namespace

struct DeviceWatch::Impl {
    DeviceWatch* q = nullptr;
    QTimer* pollTimer = nullptr;
    int pollers = 0;
    bool polledOnce = false;
    std::set<std::string> polledNames;

#if defined(KBX_HAVE_JACK)
    jack_client_t* jack = nullptr;
    std::set<std::string> jackPorts;
    std::atomic<bool> jackPending{false};
    std::atomic<bool> jackDown{false};
    QElapsedTimer jackTried;

    // JACK's notification thread: only a queued call, at most one outstanding.
    static void jackPortRegistered(jack_port_id_t, int, void* arg) {
        static_cast<Impl*>(arg)->postJack();
    }
    static void jackPortRenamed(jack_port_id_t, const char*, const char*, void* arg) {
        static_cast<Impl*>(arg)->postJack();
    }
    static void jackShutdown(void* arg) {
        auto* self = static_cast<Impl*>(arg);
        self->jackDown = true;
        self->postJack();
    }
    void postJack() {
        if (jackPending.exchange(true))
            return;
        DeviceWatch* watch = q;
        QMetaObject::invokeMethod(
            watch, [watch] { watch->refreshJack(); }, Qt::QueuedConnection);
    }

    std::set<std::string> jackMidiPorts() const {
        std::set<std::string> names;
        if (const char** ports = jack_get_ports(jack, nullptr, JACK_DEFAULT_MIDI_TYPE, 0)) {
            for (const char** p = ports; *p; ++p)
                names.insert(*p);
            jack_free(ports);
        }
        return names;
    }

    void startJack() {
        if (jack)
            return;
        if (jackTried.isValid() && jackTried.elapsed() < kPollMs)
            return;
        jackTried.start();
        silenceSoundLibraries();
        jack_client_t* client = jack_client_open(clientName().c_str(), JackNoStartServer, nullptr);
        if (!client)
            return;
        jackDown = false;
        jackPending = false;
        jack_set_port_registration_callback(client, &Impl::jackPortRegistered, this);
        jack_set_port_rename_callback(client, &Impl::jackPortRenamed, this);
        jack_on_shutdown(client, &Impl::jackShutdown, this);
        if (jack_activate(client) != 0) {
            jack_client_close(client);
            return;
        }
        jack = client;
        jackPorts = jackMidiPorts();
    }

    void stopJack() {
        if (!jack)
            return;
        // Closing joins JACK's threads: no callback runs afterwards.
        jack_client_close(jack);
        jack = nullptr;
        jackPorts.clear();
    }
#endif

#if defined(KBX_HAVE_ALSA)
    snd_seq_t* alsa = nullptr;
    std::vector<QSocketNotifier*> alsaNotifiers;
    std::set<std::string> alsaPorts;     // names as RtMidi gives them: "client:port C:P"
    std::set<std::string> alsaAddresses; // "C:P"
    bool alsaTried = false;

    // Every port with its name as the device lists show it, and its address.
    void readAlsaPorts(std::set<std::string>& names, std::set<std::string>& addresses) const {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(alsa, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(alsa, port) >= 0) {
                const std::string address =
                    std::to_string(id) + ":" + std::to_string(snd_seq_port_info_get_port(port));
                names.insert(std::string(snd_seq_client_info_get_name(client)) + ":" +
                             snd_seq_port_info_get_name(port) + " " + address);
                addresses.insert(address);
            }
        }
    }

    void startAlsa() {
        // A machine without a sequencer does not grow one while we run.
        if (alsa || alsaTried)
            return;
        alsaTried = true;
        silenceSoundLibraries();
        snd_seq_t* seq = nullptr;
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0)
            return;
        snd_seq_set_client_name(seq, "KbxMan watch");
        const int port = snd_seq_create_simple_port(
            seq, "announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
            SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0 || snd_seq_connect_from(seq, port, SND_SEQ_CLIENT_SYSTEM,
                                             SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
            snd_seq_close(seq);
            return;
        }
        alsa = seq;
        std::vector<pollfd> fds(
            static_cast<std::size_t>(snd_seq_poll_descriptors_count(alsa, POLLIN)));
        snd_seq_poll_descriptors(alsa, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
        for (const pollfd& fd : fds) {
            auto* notifier = new QSocketNotifier(fd.fd, QSocketNotifier::Read, q);
            DeviceWatch* watch = q;
            QObject::connect(notifier, &QSocketNotifier::activated, q,
                             [watch] { watch->refreshAlsa(); });
            alsaNotifiers.push_back(notifier);
        }
        readAlsaPorts(alsaPorts, alsaAddresses);
    }

    void stopAlsa() {
        for (QSocketNotifier* notifier : alsaNotifiers)
            delete notifier;
        alsaNotifiers.clear();
        if (alsa)
            snd_seq_close(alsa);
        alsa = nullptr;
        alsaTried = false;
        alsaPorts.clear();
        alsaAddresses.clear();
    }
#endif
};

DeviceWatch& DeviceWatch::instance() {
    // Goes with the application object, which closes the listening clients while the event
    // loop's machinery still exists.
    static QPointer<DeviceWatch> watch;
    if (!watch) {
        watch = new DeviceWatch();
        if (QCoreApplication* app = QCoreApplication::instance())
            watch->setParent(app);
    }
    return *watch;
}

DeviceWatch::DeviceWatch()
    : m_impl(std::make_unique<Impl>()) {
    m_impl->q = this;
    m_impl->pollTimer = new QTimer(this);
    m_impl->pollTimer->setInterval(kPollMs);
    connect(m_impl->pollTimer, &QTimer::timeout, this, &DeviceWatch::poll);
}

DeviceWatch::~DeviceWatch() {
    stop();
}

void DeviceWatch::start() {
    if (!DeviceRegistry::instance().systemDevicesEnabled())
        return;
#if defined(KBX_HAVE_JACK)
    m_impl->startJack();
#endif
#if defined(KBX_HAVE_ALSA)
    m_impl->startAlsa();
#endif
}

void DeviceWatch::stop() {
#if defined(KBX_HAVE_JACK)
    m_impl->stopJack();
    m_impl->jackTried.invalidate();
#endif
#if defined(KBX_HAVE_ALSA)
    m_impl->stopAlsa();
#endif
}

bool DeviceWatch::announcing() const {
    bool any = false;
#if defined(KBX_HAVE_JACK)
    any = any || m_impl->jack != nullptr;
#endif
#if defined(KBX_HAVE_ALSA)
    any = any || m_impl->alsa != nullptr;
#endif
    return any;
}

void DeviceWatch::beginPolling() {
    if (m_impl->pollers++ == 0) {
        m_impl->polledOnce = false;
        m_impl->pollTimer->start();
        // The lists as they are now are what the first comparison starts from.
        if (!announcing())
            poll();
    }
}

void DeviceWatch::endPolling() {
    if (m_impl->pollers > 0 && --m_impl->pollers == 0)
        m_impl->pollTimer->stop();
}

void DeviceWatch::reportRemoved(const std::vector<std::string>& names) {
    changed(names, true);
}

void DeviceWatch::changed(const std::vector<std::string>& removed, bool anything) {
    if (!removed.empty())
        Q_EMIT devicesRemoved(removed);
    if (anything || !removed.empty())
        Q_EMIT devicesChanged();
}

void DeviceWatch::refreshJack() {
#if defined(KBX_HAVE_JACK)
    Impl& d = *m_impl;
    d.jackPending = false;
    if (!d.jack)
        return;
    std::set<std::string> now;
    if (d.jackDown) {
        // The server has gone, and every port with it.
        d.stopJack();
    } else {
        now = d.jackMidiPorts();
    }
    const std::vector<std::string> gone = missingFrom(d.jackPorts, now);
    const bool anything = now != d.jackPorts;
    if (d.jack)
        d.jackPorts = std::move(now);
    changed(gone, anything);
#endif
}

void DeviceWatch::refreshAlsa() {
#if defined(KBX_HAVE_ALSA)
    Impl& d = *m_impl;
    if (!d.alsa)
        return;
    // The announcements themselves say little; what counts is the ports there are now.
    snd_seq_event_t* event = nullptr;
    bool announced = false;
    for (;;) {
        const int got = snd_seq_event_input(d.alsa, &event);
        if (got == -ENOSPC) // the queue overflowed: something happened all the same
            announced = true;
        else if (got < 0)
            break;
        else
            announced = true;
    }
    if (!announced)
        return;
    std::set<std::string> names;
    std::set<std::string> addresses;
    d.readAlsaPorts(names, addresses);
    // A port is gone when its address is; a renamed one is still the same device.
    std::vector<std::string> gone;
    for (const std::string& name : d.alsaPorts) {
        const std::string address = name.substr(name.rfind(' ') + 1);
        if (!addresses.count(address))
            gone.push_back(name);
    }
    const bool anything = names != d.alsaPorts;
    d.alsaPorts = std::move(names);
    d.alsaAddresses = std::move(addresses);
    changed(gone, anything);
#endif
}

void DeviceWatch::poll() {
    start();
    Impl& d = *m_impl;
    if (d.pollers == 0)
        return;
    if (announcing()) {
        d.polledOnce = false;
        return;
    }
    auto& registry = DeviceRegistry::instance();
    std::set<std::string> names;
    for (const std::string& name : registry.inputNames())
        names.insert("in:" + name);
    for (const std::string& name : registry.outputNames())
        names.insert("out:" + name);
    if (!d.polledOnce) {
        d.polledOnce = true;
        d.polledNames = std::move(names);
        return;
    }
    std::vector<std::string> gone;
    for (const std::string& name : missingFrom(d.polledNames, names))
        gone.push_back(name.substr(name.find(':') + 1));
    const bool anything = names != d.polledNames;
    d.polledNames = std::move(names);
    changed(gone, anything);
}

} // namespace kbxmidi
