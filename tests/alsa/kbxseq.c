// The wiring of the ALSA test machine, which has no alsa-utils:
//
//   kbxseq link A B                      connect A's output to B's input and B's output to A's
//                                        input (sequencer clients named A and B, or client:port)
//   kbxseq tap NAME CORE [--log P] [--die-after T:N]
//                                        a keyboard of its own name: a duplex port NAME that hands
//                                        what it receives to client CORE (a `kbxtool emulate`)
//                                        and CORE's answers back
//   kbxseq bridge HOSTDEV KBDDEV [--log P] [--stop-after T:N] [--late-after T:N:MS]
//                                        copies bytes both ways between two rawmidi devices (a
//                                        MIDI interface's cable); --late-after holds the
//                                        keyboard's bytes from that message on for MS
//                                        milliseconds (a slow interface: late, in order)
//
// --log P appends every System Exclusive byte that goes to the keyboard to file P.to, and every
// one that comes from it to P.from: what the keyboard side saw.
//
// T:N makes a fault at an exact point of an exchange: on the N-th System Exclusive message from
// the computer whose type nibble (high half of byte 5) is T, before passing it on, the tap ends
// (its ports vanish, as when the keyboard's program ends or a USB interface is pulled) and the
// bridge stops (the ports stay, nothing answers). T 4 is a data block, 5 a data request.
#define _DEFAULT_SOURCE
#include <alsa/asoundlib.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void fail(const char* what) {
    fprintf(stderr, "kbxseq: %s\n", what);
    exit(1);
}

// Counts whole System Exclusive messages from the computer, byte by byte across any chunking.
struct Fault {
    int type;   // -1: none
    int count;  // messages of the type still to pass
    int lateMs; // 0: stop there; else hold the answers this long
    unsigned char head[6];
    size_t at; // bytes of the current message so far
};

static void parseFault(struct Fault* f, const char* text) {
    f->type = -1;
    f->at = 0;
    f->lateMs = 0;
    if (text && sscanf(text, "%x:%d:%d", &f->type, &f->count, &f->lateMs) < 2)
        fail("a fault is TYPE:N or TYPE:N:MS");
}

// Whether the message that this byte completes is the fault's point.
static int faultAt(struct Fault* f, unsigned char byte) {
    if (byte == 0xF0)
        f->at = 0;
    if (f->at < sizeof f->head)
        f->head[f->at] = byte;
    ++f->at;
    if (byte != 0xF7 || f->type < 0 || f->at < sizeof f->head)
        return 0;
    return (f->head[5] >> 4) == f->type && --f->count == 0;
}

struct Log {
    FILE* to;
    FILE* from;
};

static FILE* openLog(const char* prefix, const char* suffix) {
    if (!prefix)
        return NULL;
    char path[4096];
    snprintf(path, sizeof path, "%s.%s", prefix, suffix);
    FILE* file = fopen(path, "ab");
    if (!file)
        fail("cannot open the log");
    return file;
}

static struct Log openLogs(const char* prefix) {
    struct Log log = {openLog(prefix, "to"), openLog(prefix, "from")};
    return log;
}

static void logBytes(FILE* file, const void* bytes, size_t count) {
    if (file) {
        fwrite(bytes, 1, count, file);
        fflush(file);
    }
}

static snd_seq_t* openSeq(const char* name) {
    snd_seq_t* seq = NULL;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
        fail("no ALSA sequencer");
    snd_seq_set_client_name(seq, name);
    return seq;
}

// The first port of the client named NAME (or at address NAME) with the capabilities; waits up
// to 10 s for a program that is still starting.
static snd_seq_addr_t findPort(snd_seq_t* seq, const char* name, unsigned caps) {
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    for (int tries = 0; tries < 1000; ++tries) {
        snd_seq_addr_t address;
        if (strchr(name, ':') && snd_seq_parse_address(seq, &address, name) == 0)
            return address;
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq, client) >= 0) {
            if (strcmp(snd_seq_client_info_get_name(client), name) != 0)
                continue;
            snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(seq, port) >= 0)
                if ((snd_seq_port_info_get_capability(port) & caps) == caps)
                    return *snd_seq_port_info_get_addr(port);
        }
        usleep(10000);
    }
    fprintf(stderr, "kbxseq: no port of \"%s\"\n", name);
    exit(1);
}

static const unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
static const unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

static void subscribe(snd_seq_t* seq, snd_seq_addr_t from, snd_seq_addr_t to) {
    snd_seq_port_subscribe_t* sub;
    snd_seq_port_subscribe_alloca(&sub);
    snd_seq_port_subscribe_set_sender(sub, &from);
    snd_seq_port_subscribe_set_dest(sub, &to);
    if (snd_seq_subscribe_port(seq, sub) < 0 && errno != EBUSY)
        fail("subscription refused");
}

static int linkPorts(const char* a, const char* b) {
    snd_seq_t* seq = openSeq("kbxseq link");
    subscribe(seq, findPort(seq, a, kReadable), findPort(seq, b, kWritable));
    subscribe(seq, findPort(seq, b, kReadable), findPort(seq, a, kWritable));
    snd_seq_close(seq);
    return 0;
}

static int tap(const char* name, const char* core, const char* logPrefix, const char* fault) {
    struct Fault f;
    parseFault(&f, fault);
    const struct Log log = openLogs(logPrefix);
    snd_seq_t* seq = openSeq(name);
    const int me =
        snd_seq_create_simple_port(seq, name, kReadable | kWritable | SND_SEQ_PORT_CAP_DUPLEX,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (me < 0)
        fail("no port");
    const snd_seq_addr_t coreIn = findPort(seq, core, kWritable);
    const snd_seq_addr_t coreOut = findPort(seq, core, kReadable);
    // Only the answers come by subscription: what goes to the subscribers of our port must reach
    // the computer alone.
    if (snd_seq_connect_from(seq, me, coreOut.client, coreOut.port) < 0)
        fail("cannot hear the keyboard");
    printf("ready\n");
    fflush(stdout);
    for (;;) {
        snd_seq_event_t* ev = NULL;
        if (snd_seq_event_input(seq, &ev) < 0)
            continue;
        if (ev->type != SND_SEQ_EVENT_SYSEX)
            continue;
        const int fromKeyboard = ev->source.client == coreOut.client;
        const unsigned char* bytes = ev->data.ext.ptr;
        for (unsigned i = 0; !fromKeyboard && i < ev->data.ext.len; ++i)
            if (faultAt(&f, bytes[i]))
                exit(0);
        logBytes(fromKeyboard ? log.from : log.to, bytes, ev->data.ext.len);
        snd_seq_ev_set_source(ev, me);
        if (fromKeyboard)
            snd_seq_ev_set_subs(ev);
        else
            snd_seq_ev_set_dest(ev, coreIn.client, coreIn.port);
        snd_seq_ev_set_direct(ev);
        snd_seq_event_output_direct(seq, ev);
    }
}

static long long nowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static int bridge(const char* hostDev, const char* kbdDev, const char* logPrefix,
                  const char* fault) {
    struct Fault f;
    parseFault(&f, fault);
    const struct Log log = openLogs(logPrefix);
    struct pollfd fds[2] = {{open(hostDev, O_RDWR), POLLIN, 0}, {open(kbdDev, O_RDWR), POLLIN, 0}};
    if (fds[0].fd < 0 || fds[1].fd < 0)
        fail("cannot open the rawmidi devices");
    printf("ready\n");
    fflush(stdout);
    unsigned char buffer[4096];
    unsigned char held[65536]; // the keyboard's bytes while an answer is held back
    size_t heldCount = 0;
    long long holdUntil = 0; // ms on the monotonic clock; 0: nothing held
    for (;;) {
        const int wait = holdUntil ? (int)(holdUntil - nowMs() > 0 ? holdUntil - nowMs() : 0) : -1;
        if (poll(fds, 2, wait) < 0 && errno != EINTR)
            fail("poll");
        if (holdUntil && nowMs() >= holdUntil) {
            if (write(fds[0].fd, held, heldCount) != (ssize_t)heldCount)
                fail("write");
            heldCount = 0;
            holdUntil = 0;
        }
        for (int side = 0; side < 2; ++side) {
            if (!(fds[side].revents & POLLIN))
                continue;
            const ssize_t got = read(fds[side].fd, buffer, sizeof buffer);
            if (got <= 0)
                fail("read");
            for (ssize_t i = 0; side == 0 && i < got; ++i) {
                if (!faultAt(&f, buffer[i]))
                    continue;
                if (!f.lateMs)
                    exit(0);
                holdUntil = nowMs() + f.lateMs;
            }
            logBytes(side == 0 ? log.to : log.from, buffer, (size_t)got);
            if (side == 1 && holdUntil) {
                if (heldCount + (size_t)got > sizeof held)
                    fail("too much to hold");
                memcpy(held + heldCount, buffer, (size_t)got);
                heldCount += (size_t)got;
            } else if (write(fds[1 - side].fd, buffer, (size_t)got) != got) {
                fail("write");
            }
        }
    }
}

int main(int argc, char** argv) {
    const char* log = NULL;
    const char* fault = NULL;
    int n = 0;
    char* plain[4] = {0};
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--log") == 0 && i + 1 < argc)
            log = argv[++i];
        else if ((strcmp(argv[i], "--die-after") == 0 || strcmp(argv[i], "--stop-after") == 0 ||
                  strcmp(argv[i], "--late-after") == 0) &&
                 i + 1 < argc)
            fault = argv[++i];
        else if (n < 4)
            plain[n++] = argv[i];
    }
    if (n == 3 && strcmp(plain[0], "link") == 0)
        return linkPorts(plain[1], plain[2]);
    if (n == 3 && strcmp(plain[0], "tap") == 0)
        return tap(plain[1], plain[2], log, fault);
    if (n == 3 && strcmp(plain[0], "bridge") == 0)
        return bridge(plain[1], plain[2], log, fault);
    fprintf(stderr, "usage: kbxseq link A B | tap NAME CORE [--log P] [--die-after T:N] | "
                    "bridge HOSTDEV KBDDEV [--log P] [--stop-after T:N] [--late-after T:N:MS]\n");
    return 2;
}
