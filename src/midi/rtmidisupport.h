#pragma once
// What every user of RtMidi in this program needs around it: the sound libraries kept quiet,
// JACK asked before RtMidi tries it, and client names of their own.

#include <iostream>
#include <streambuf>
#include <string>

namespace kbxmidi {

// The sound libraries print every failure to open their service on stderr; we report failures
// ourselves, and a machine without MIDI is normal. Safe to call any number of times.
void silenceSoundLibraries();

// Whether a JACK server answers. RtMidi 5.0 allocates its JACK output buffers on every attempt
// to reach the server and loses them when there is none; asking first keeps a machine without
// JACK from leaking each time devices are listed.
bool jackServerRunning();

// The name of a new client of this process. A JACK server asked for a client under the name of
// one just closed now and then fails to start it, and after some hundreds of such rounds (a
// backup opens ports for every item) refuses every new client; each client therefore gets a
// name of its own ("KbxMan 12").
std::string clientName();

// How many clients of the MIDI systems the device backend has made so far (listing clients and
// port objects): tests and benchmarks check that openings make none after the first.
unsigned systemClientsCreated();

// RtMidi prints constructor failures on std::cerr before it throws (no error callback can be set
// yet); while one of these lives they are swallowed, and reported through the exception.
class QuietCerr {
public:
    QuietCerr()
        : m_old(std::cerr.rdbuf(&m_null)) {}
    ~QuietCerr() { std::cerr.rdbuf(m_old); }
    QuietCerr(const QuietCerr&) = delete;
    QuietCerr& operator=(const QuietCerr&) = delete;

private:
    struct NullBuf : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    };
    NullBuf m_null;
    std::streambuf* m_old;
};

} // namespace kbxmidi
