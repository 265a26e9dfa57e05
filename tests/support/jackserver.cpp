#include "jackserver.h"

#include "testutil.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <RtMidi.h>
#include <iostream>
#include <sstream>

namespace kbxtest {

namespace {

bool serverAnswers() {
    bool up = true;
    // RtMidi reports a missing server on std::cerr while constructing.
    std::ostringstream quiet;
    std::streambuf* cerr = std::cerr.rdbuf(quiet.rdbuf());
    RtMidiIn probe(RtMidi::UNIX_JACK, "kbxprobe");
    std::cerr.rdbuf(cerr);
    probe.setErrorCallback([](RtMidiError::Type, const std::string&,
                              void* user) { *static_cast<bool*>(user) = false; },
                           &up);
    probe.getPortCount();
    return up;
}

} // namespace

JackServer::~JackServer() {
    stop();
}

bool JackServer::installed() const {
    return !QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty();
}

bool JackServer::start(std::string& why) {
    const QString jackd = QStandardPaths::findExecutable(QStringLiteral("jackd"));
    if (jackd.isEmpty()) {
        why = "jackd is not installed";
        return false;
    }
    m_name = QStringLiteral("kbxtest-%1").arg(QCoreApplication::applicationPid());
    qputenv("JACK_DEFAULT_SERVER", m_name.toUtf8());
    qputenv("JACK_NO_AUDIO_RESERVATION", "1");
    qputenv("JACK_NO_START_SERVER", "1");
    m_jackd.setProgram(jackd);
    m_jackd.setArguments({"-S", "-r", "-n", m_name, "-d", "dummy", "-r", "48000", "-p", "128"});
    m_jackd.setProcessChannelMode(QProcess::MergedChannels);
    m_jackd.start();
    if (!m_jackd.waitForStarted(5000)) {
        why = "jackd did not start";
        return false;
    }
    if (!waitFor([] { return serverAnswers(); }, 10000)) {
        why = "jackd does not answer: " + m_jackd.readAll().toStdString();
        return false;
    }
    return true;
}

void JackServer::stop() {
    if (m_jackd.state() == QProcess::NotRunning)
        return;
    spin(500);
    m_jackd.terminate();
    if (!m_jackd.waitForFinished(5000))
        m_jackd.kill();
    m_jackd.waitForFinished(5000);
}

MidiPeer::MidiPeer(const std::string& client, const std::string& inputPort,
                   const std::string& outputPort)
    : m_out(std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, client))
    , m_in(std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, client)) {
    m_out->openVirtualPort(outputPort);
    m_in->ignoreTypes(false, true, true);
    m_in->setCallback(&MidiPeer::received, this);
    m_in->openVirtualPort(inputPort);
}

MidiPeer::~MidiPeer() = default;

void MidiPeer::send(const std::vector<std::uint8_t>& bytes) {
    m_out->sendMessage(bytes.data(), bytes.size());
}

std::vector<std::vector<std::uint8_t>> MidiPeer::messages() {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

void MidiPeer::received(double, std::vector<unsigned char>* message, void* user) {
    auto* self = static_cast<MidiPeer*>(user);
    std::lock_guard lock(self->m_mutex);
    self->m_messages.emplace_back(message->begin(), message->end());
}

} // namespace kbxtest
