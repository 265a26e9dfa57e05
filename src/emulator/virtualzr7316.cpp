#include "virtualzr7316.h"

#include "wholefile.h"

#include "zr7316memory.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <map>
#include <optional>

// The keyboard parses requests itself rather than through ZxSysExDecoder: the decoder is the
// host's and refuses the two types only the keyboard receives (parameter and data requests).

namespace {

using Bytes = std::vector<std::uint8_t>;

namespace Type {
constexpr std::uint8_t ParamValue = 0, ParamRequest = 1, DataBlock = 4, DataRequest = 5,
                       Handshake = 7;
}
namespace Status {
constexpr std::uint8_t End = 0, Accepted = 1, Rejected = 2, Error = 3;
}
constexpr std::size_t kBlockBytes = 128;
constexpr std::size_t kBlockWords = 64;
constexpr qint64 kWireNsPerByte = 320000; // start, 8 data and stop bit at 31250 baud

std::string hexOf(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

// Header of every message the keyboard sends.
Bytes frame(std::uint8_t type, std::uint8_t kind, std::uint8_t b6, std::uint8_t b7,
            int dataNumber) {
    return {0xF0,
            0x44,
            0x11,
            0x01,
            0x7F,
            static_cast<std::uint8_t>(((type & 0x0F) << 4) | (kind & 0x0F)),
            static_cast<std::uint8_t>(b6 & 0x7F),
            static_cast<std::uint8_t>(b7 & 0x7F),
            static_cast<std::uint8_t>(dataNumber & 0x7F),
            static_cast<std::uint8_t>((dataNumber >> 7) & 0x7F)};
}

Bytes handshake(std::uint8_t kind, int dataNumber, std::uint8_t status) {
    Bytes m = frame(Type::Handshake, kind, 0, 0, dataNumber);
    m.push_back(status & 0x7F);
    m.push_back(0xF7);
    return m;
}

// Removes the three groups of the block's first zero word; the word-count byte stays.
void dropZeroWord(Bytes& block) {
    for (std::size_t p = 13; p + 3 < block.size() - 1; p += 3)
        if (block[p] == 0 && block[p + 1] == 0 && block[p + 2] == 0) {
            block.erase(block.begin() + p, block.begin() + p + 3);
            return;
        }
}

Bytes dataRequest(std::uint8_t kind, int dataNumber) {
    Bytes m = frame(Type::DataRequest, kind, 0, 0, dataNumber);
    m.push_back(0x00);
    m.push_back(0xF7);
    return m;
}

int groupCount(int width) {
    return (width + 6) / 7;
}

// A received message, checked for its frame; the fields of bytes 5-9.
struct Message {
    const Bytes* raw = nullptr;
    std::uint8_t type = 0, kind = 0, param = 0, layout = 0;
    int dataNumber = 0;
    int indexLength() const { return ((layout >> 5) & 3) + 1; }
    int width() const { return (layout & 0x1F) + 1; }
    std::size_t size() const { return raw->size(); }
    std::uint8_t at(std::size_t i) const { return (*raw)[i]; }
};

// Why the frame is not one the keyboard would take, or empty.
std::string frameProblem(const Bytes& m) {
    if (m.size() < 11)
        return "too short";
    if (m.front() != 0xF0 || m[1] != 0x44 || m.back() != 0xF7)
        return "not a System Exclusive message of this maker";
    if (m[2] != 0x11 || m[3] != 0x01)
        return "for another model";
    for (std::size_t i = 1; i + 1 < m.size(); ++i)
        if (m[i] & 0x80)
            return "status byte inside the message";
    return {};
}

// The data block's payload as item bytes (high byte of each word first), or nothing when the
// block is malformed or fails its checksum.
std::optional<Bytes> blockBytes(const Message& m) {
    if (m.size() < 15 || (m.size() - 15) % 3 != 0)
        return std::nullopt;
    const std::size_t words = (m.size() - 15) / 3;
    if (words > kBlockWords || m.at(12) != words)
        return std::nullopt;
    unsigned sum = 0;
    Bytes out;
    out.reserve(words * 2);
    for (std::size_t w = 0; w < words; ++w) {
        const std::size_t p = 13 + 3 * w;
        sum += m.at(p) + m.at(p + 1) + m.at(p + 2);
        const unsigned word = m.at(p) | (m.at(p + 1) << 7) | ((m.at(p + 2) & 3) << 14);
        out.push_back(static_cast<std::uint8_t>(word >> 8));
        out.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    if (((sum + m.at(m.size() - 2)) & 0x7F) != 0)
        return std::nullopt;
    return out;
}

struct Outbound {
    Bytes bytes;
    qint64 dueNs;
};

} // namespace

struct VirtualZr7316::Impl {
    VirtualZr7316* q;
    zr7316::Memory memory;
    QString stateFile;
    // The state file's bytes as this keyboard last read or wrote them: another process (kbxman
    // beside kbxtool --virtual, or kbxtool emulate) may have changed it since. Compared by
    // content: a time stamp can stay the same across two writes within its resolution.
    QByteArray seenBytes;
    bool seen = false;
    // The last save that failed, until the action that made the change has been told.
    std::optional<kbxio::FileError> saveFailure;

    Faults faults;
    int counter = 0;
    int handshakeTimesLeft = -1;
    bool strict = false;

    std::vector<Bytes> received, sent;
    std::vector<std::string> unexpected;

    std::function<void(const Bytes&)> sink;
    std::deque<Outbound> outbound;
    QTimer* timer = nullptr;
    QElapsedTimer clock;
    qint64 lastDueNs = 0;

    // Transfer in progress.
    enum class State { Idle, Sending, Receiving } state = State::Idle;
    std::uint8_t transferKind = 0;
    int transferNumber = 0;
    zr7316::Slot transferSlot;
    Bytes outgoing;              // sending: the item as it was when the host asked for it
    int nextBlock = 0;           // sending: the block that the next handshake 1 asks for
    std::map<int, Bytes> blocks; // receiving: accepted blocks by number
    int lastBlock = -1;

    explicit Impl(VirtualZr7316* owner)
        : q(owner) {}

    // Remembers the state file's bytes as they are now (none when it is missing).
    void rememberFile(const QByteArray& bytes) {
        seenBytes = bytes;
        seen = true;
    }

    // Takes the memory from the state file when another process has changed the file since this
    // keyboard last read or wrote it. A file that cannot be read leaves the memory as it is.
    void reloadIfChanged() {
        if (stateFile.isEmpty())
            return;
        kbxio::Reason why;
        const std::optional<QByteArray> read =
            kbxio::readWhole(stateFile, zr7316::kLargestStateFile, &why);
        if (!read)
            return;
        const QByteArray& bytes = *read;
        if (seen && bytes == seenBytes)
            return;
        if (std::optional<zr7316::Memory> loaded = zr7316::Memory::fromJson(bytes))
            memory = std::move(*loaded);
        rememberFile(bytes);
    }

    // A change of the memory, committed to the state file under its lock: the file is read
    // again first, so that a change another process committed meanwhile is kept beside this one.
    template <class Change>
    void commit(Change&& change) {
        if (stateFile.isEmpty()) {
            change(memory);
            return;
        }
        QDir().mkpath(QFileInfo(stateFile).absolutePath());
        QLockFile lock(stateFile + QStringLiteral(".lock"));
        lock.setStaleLockTime(10000);
        // A keyboard that cannot get the lock still commits: losing a change is worse than racing.
        const bool locked = lock.tryLock(2000);
        reloadIfChanged();
        const zr7316::Memory before = memory;
        change(memory);
        // A change the state file cannot keep is not made: the keyboard holds what the file does.
        if (!q->save())
            memory = before;
        if (locked)
            lock.unlock();
    }

    void note(const std::string& why, const Bytes& message) {
        if (strict)
            unexpected.push_back(why + ": " + hexOf(message));
    }

    bool silenced(int index) const {
        return index == faults.noReplyTo ||
               (faults.silentFrom >= 0 && index >= faults.silentFrom) ||
               (faults.dropEvery > 0 && (index + 1) % faults.dropEvery == 0);
    }

    bool handshakeFaultAt(int block) {
        if (faults.handshakeAtBlock < 0 || block != faults.handshakeAtBlock ||
            handshakeTimesLeft == 0)
            return false;
        if (handshakeTimesLeft > 0)
            --handshakeTimesLeft;
        return true;
    }

    // --- leaving the keyboard -------------------------------------------------------------

    void reply(Bytes message, int index) {
        if (silenced(index))
            return;
        const qint64 now = clock.nsecsElapsed();
        qint64 due = std::max(now + qint64(faults.replyDelayMs) * 1000000, lastDueNs);
        if (faults.wireSpeed)
            due += kWireNsPerByte * qint64(message.size()); // lastDueNs is when the wire frees
        lastDueNs = due;
        outbound.push_back({std::move(message), due});
        arm();
    }

    void arm() {
        if (outbound.empty()) {
            timer->stop();
            return;
        }
        const qint64 wait = outbound.front().dueNs - clock.nsecsElapsed();
        // Whole milliseconds rounded down, the last fraction polled (deliver() never sends
        // early): rounding up made every paced reply up to a millisecond late.
        timer->start(wait <= 0 ? 0 : int(wait / 1000000));
    }

    void deliver() {
        while (!outbound.empty() && outbound.front().dueNs <= clock.nsecsElapsed()) {
            Bytes message = std::move(outbound.front().bytes);
            outbound.pop_front();
            // Armed before the sink runs, so a sink that waits in a nested loop still gets the
            // next reply.
            arm();
            sent.push_back(message);
            if (sink)
                sink(message);
        }
        arm();
    }

    // --- receiving ---------------------------------------------------------------------------

    void handle(const Bytes& raw, int index) {
        Message m;
        m.raw = &raw;
        if (index == faults.unexpectedAt) {
            const bool framed = raw.size() >= 10;
            reply(dataRequest(framed ? raw[5] & 0x0F : 0,
                              framed ? (raw[8] & 0x7F) | ((raw[9] & 0x7F) << 7) : 0),
                  index);
            return;
        }
        if (const std::string problem = frameProblem(raw); !problem.empty()) {
            note("ignored, " + problem, raw);
            return;
        }
        m.type = raw[5] >> 4;
        m.kind = raw[5] & 0x0F;
        m.param = raw[6];
        m.layout = raw[7];
        m.dataNumber = raw[8] | (raw[9] << 7);
        if (m.type == Type::Handshake && raw.size() < 12) {
            note("ignored, handshake without its status", raw);
            return;
        }

        if (state != State::Idle && m.type == Type::Handshake &&
            (m.kind != transferKind || m.dataNumber != transferNumber))
            note("handshake for another item than the transfer's", raw);
        if (state == State::Sending) {
            if (m.type == Type::Handshake) {
                const std::uint8_t status = raw[10];
                if (status == Status::Accepted) {
                    sendNext(index);
                    return;
                }
                if (status != Status::Error)
                    note("handshake other than 1 or 3 while sending", raw);
                state = State::Idle;
                return;
            }
            note("message during a send ends the send", raw);
            state = State::Idle;
        } else if (state == State::Receiving) {
            if (m.type == Type::DataBlock && m.kind == transferKind &&
                m.dataNumber == transferNumber) {
                receiveBlock(m, index);
                return;
            }
            if (m.type == Type::Handshake) {
                if (raw[10] == Status::End)
                    commit(raw);
                else
                    note("handshake other than 0 ends the receipt", raw);
                state = State::Idle;
                return;
            }
            note("message during a receipt ends the receipt", raw);
            state = State::Idle;
        }

        switch (m.type) {
        case Type::ParamRequest:
            answerParameter(m, index);
            break;
        case Type::ParamValue:
            writeParameter(m);
            break;
        case Type::DataRequest:
            startSend(m, index);
            break;
        case Type::DataBlock:
            startReceive(m, index);
            break;
        case Type::Handshake:
            note("handshake outside a transfer", raw);
            break;
        default:
            note("unknown message type", raw);
            break;
        }
    }

    void answerParameter(const Message& m, int index) {
        const std::size_t indexLength = m.indexLength();
        if (m.size() < 11 + indexLength) {
            note("parameter request without its index", *m.raw);
            return;
        }
        const int n = m.at(10);
        std::optional<std::uint32_t> value;
        if (m.kind == 0) {
            switch (m.param) {
            case 0:
                value = faults.keyboardType;
                break;
            case 34:
                value = memory.freeMemory();
                break;
            case 35:
            case 38:
                if (const Bytes* item =
                        memory.item(m.param == 35 ? zr7316::kRhythm : zr7316::kSong, n, 0))
                    value = std::uint32_t(item->size());
                break;
            case 36:
            case 37:
                value = memory.nameHalf(zr7316::kRhythm, n, 0, m.param - 36);
                break;
            case 39:
            case 40:
                value = memory.nameHalf(zr7316::kSong, n, 0, m.param - 39);
                break;
            default:
                break;
            }
        } else if (m.kind == zr7316::kTone && (m.param == 96 || m.param == 97)) {
            value = memory.nameHalf(zr7316::kTone, m.dataNumber - 384, 0, m.param - 96);
        } else if (m.kind == zr7316::kDsp && (m.param == 48 || m.param == 49)) {
            value = memory.nameHalf(zr7316::kDsp, m.dataNumber - 100, 0, m.param - 48);
        }
        if (!value)
            note("parameter the keyboard does not know, answered with 0", *m.raw);

        const int width = m.width();
        std::uint32_t v = value.value_or(0);
        if (width < 32)
            v &= (std::uint32_t(1) << width) - 1;
        Bytes out = frame(Type::ParamValue, m.kind, m.param, m.layout, m.dataNumber);
        for (std::size_t i = 0; i < indexLength; ++i)
            out.push_back(m.at(10 + i));
        for (int g = 0; g < groupCount(width); ++g)
            out.push_back(static_cast<std::uint8_t>((v >> (7 * g)) & 0x7F));
        out.push_back(0xF7);
        reply(std::move(out), index);
    }

    void writeParameter(const Message& m) {
        const std::size_t valueAt = 10 + m.indexLength();
        const int groups = groupCount(m.width());
        if (m.size() < valueAt + groups + 1) {
            note("parameter value cut short", *m.raw);
            return;
        }
        std::uint32_t value = 0;
        for (int g = 0; g < groups; ++g)
            value |= std::uint32_t(m.at(valueAt + g)) << (7 * g);
        if (m.kind != 0 || (m.param != 32 && m.param != 33)) {
            note("parameter the keyboard does not take", *m.raw);
            return;
        }
        const std::uint16_t kind = m.param == 32 ? zr7316::kSong : zr7316::kRhythm;
        Bytes* item = value <= 0xFF ? memory.item(kind, int(value), 0) : nullptr;
        if (!item) {
            note("delete of a slot that does not exist", *m.raw);
            return;
        }
        if (item->empty())
            return;
        const int number = int(value);
        commit([&](zr7316::Memory& mem) {
            if (Bytes* stored = mem.item(kind, number, 0))
                stored->clear();
        });
    }

    void startSend(const Message& m, int index) {
        const std::optional<zr7316::Slot> slot = zr7316::slotOf(m.kind, m.dataNumber);
        transferKind = m.kind;
        transferNumber = m.dataNumber;
        if (!slot) {
            note("data request for a slot that does not exist", *m.raw);
            reply(handshake(m.kind, m.dataNumber, Status::Rejected), index);
            return;
        }
        outgoing = *memory.item(slot->kind, slot->number, slot->bank);
        if (outgoing.empty()) {
            reply(handshake(m.kind, m.dataNumber, Status::Rejected), index);
            return;
        }
        state = State::Sending;
        nextBlock = 0;
        sendNext(index);
    }

    void sendNext(int index) {
        const std::size_t words = (outgoing.size() + 1) / 2;
        const std::size_t blockCount = (words + kBlockWords - 1) / kBlockWords;
        if (std::size_t(nextBlock) >= blockCount) {
            state = State::Idle;
            reply(handshake(transferKind, transferNumber, Status::End), index);
            return;
        }
        const int block = nextBlock++;
        if (handshakeFaultAt(block)) {
            state = State::Idle;
            reply(handshake(transferKind, transferNumber, faults.handshakeStatus), index);
            return;
        }
        const std::size_t first = block * kBlockWords;
        const std::size_t count = std::min(kBlockWords, words - first);
        Bytes out = frame(Type::DataBlock, transferKind, 0x00, 0x4F, transferNumber);
        out.push_back(block & 0x7F);
        out.push_back((block >> 7) & 0x7F);
        out.push_back(static_cast<std::uint8_t>(count));
        unsigned sum = 0;
        for (std::size_t w = first; w < first + count; ++w) {
            const unsigned hi = outgoing[2 * w];
            const unsigned lo = 2 * w + 1 < outgoing.size() ? outgoing[2 * w + 1] : 0;
            const unsigned word = (hi << 8) | lo;
            const std::uint8_t groups[3] = {std::uint8_t(word & 0x7F),
                                            std::uint8_t((word >> 7) & 0x7F),
                                            std::uint8_t((word >> 14) & 0x7F)};
            for (std::uint8_t g : groups) {
                out.push_back(g);
                sum += g;
            }
        }
        std::uint8_t checksum = (128 - (sum & 0x7F)) & 0x7F;
        if (block == faults.badChecksumBlock)
            checksum = (checksum + 1) & 0x7F;
        out.push_back(checksum);
        out.push_back(0xF7);
        if (block == faults.dropZeroWordBlock)
            dropZeroWord(out);
        reply(std::move(out), index);
    }

    void startReceive(const Message& m, int index) {
        transferKind = m.kind;
        transferNumber = m.dataNumber;
        const std::optional<zr7316::Slot> slot = zr7316::slotOf(m.kind, m.dataNumber);
        if (!slot) {
            note("data block for a slot that does not exist", *m.raw);
            reply(handshake(m.kind, m.dataNumber, Status::Rejected), index);
            return;
        }
        state = State::Receiving;
        transferSlot = *slot;
        blocks.clear();
        lastBlock = -1;
        receiveBlock(m, index);
    }

    void receiveBlock(const Message& m, int index) {
        const std::optional<Bytes> bytes = blockBytes(m);
        if (!bytes) {
            note("data block malformed or failing its checksum", *m.raw);
            state = State::Idle;
            reply(handshake(transferKind, transferNumber, Status::Error), index);
            return;
        }
        const int block = m.at(10) | (m.at(11) << 7);
        if (handshakeFaultAt(block) && faults.handshakeStatus != Status::Accepted) {
            const std::uint8_t status = faults.handshakeStatus;
            if (status == Status::Rejected || status == Status::Error)
                state = State::Idle;
            reply(handshake(transferKind, transferNumber, status), index);
            return;
        }
        const std::size_t end = block * kBlockBytes + bytes->size();
        if (end > memory.room(transferSlot)) {
            state = State::Idle;
            reply(handshake(transferKind, transferNumber, Status::Rejected), index);
            return;
        }
        if (block == 0) {
            // A host that gave up a transfer (cancelled, timed out) starts the next one at block
            // 0: nothing of the abandoned one may end up in the item.
            if (lastBlock > 0)
                note("data block 0 in the middle of a receipt starts it afresh", *m.raw);
            blocks.clear();
        } else if (block != lastBlock + 1 && block != lastBlock) {
            note("data block out of order", *m.raw);
        }
        lastBlock = block;
        blocks[block] = *bytes;
        reply(handshake(transferKind, transferNumber, Status::Accepted), index);
    }

    void commit(const Bytes& raw) {
        Bytes item;
        const int last = blocks.empty() ? -1 : blocks.rbegin()->first;
        for (int b = 0; b <= last; ++b) {
            const auto it = blocks.find(b);
            if (it == blocks.end() || (b < last && it->second.size() != kBlockBytes)) {
                note("transfer ended with blocks missing, nothing stored", raw);
                return;
            }
            item.insert(item.end(), it->second.begin(), it->second.end());
        }
        const std::size_t fixed = zr7316::fixedSize(transferSlot.kind);
        if (item.empty() || (fixed && item.size() != fixed) ||
            item.size() > memory.room(transferSlot)) {
            note("transfer ended with an item of the wrong size, nothing stored", raw);
            return;
        }
        if (faults.corruptStoredByte >= 0)
            item[std::min(std::size_t(faults.corruptStoredByte), item.size() - 1)] ^= 0x01;
        blocks.clear();
        commit([&](zr7316::Memory& mem) {
            // What another process stored meanwhile may leave less room than there was.
            if (item.size() > mem.room(transferSlot)) {
                note("transfer ended with an item that no longer fits, nothing stored", raw);
                return;
            }
            *mem.item(transferSlot.kind, transferSlot.number, transferSlot.bank) = std::move(item);
        });
    }
};

VirtualZr7316::VirtualZr7316(QObject* parent)
    : QObject(parent)
    , m_impl(new Impl(this)) {
    m_impl->memory = zr7316::Memory::factory();
    m_impl->clock.start();
    m_impl->timer = new QTimer(this);
    m_impl->timer->setSingleShot(true);
    m_impl->timer->setTimerType(Qt::PreciseTimer);
    connect(m_impl->timer, &QTimer::timeout, this, [this] { m_impl->deliver(); });
}

VirtualZr7316::~VirtualZr7316() {
    delete m_impl;
}

void VirtualZr7316::receive(const std::vector<std::uint8_t>& message) {
    // A new request sees what another process has committed; a transfer under way keeps the
    // memory it started with until it commits.
    if (m_impl->state == Impl::State::Idle)
        m_impl->reloadIfChanged();
    m_impl->received.push_back(message);
    m_impl->handle(message, m_impl->counter++);
}

void VirtualZr7316::setReplySink(std::function<void(const std::vector<std::uint8_t>&)> sink) {
    m_impl->sink = std::move(sink);
}

void VirtualZr7316::factoryReset() {
    m_impl->memory = zr7316::Memory::factory();
    save();
}

void VirtualZr7316::wipe() {
    m_impl->memory = zr7316::Memory{};
    save();
}

std::vector<std::uint8_t> VirtualZr7316::itemBytes(std::uint16_t kind, int number, int bank) const {
    const Bytes* item = m_impl->memory.item(kind, number, bank);
    return item ? *item : Bytes{};
}

void VirtualZr7316::setItemBytes(std::uint16_t kind, int number, int bank,
                                 std::vector<std::uint8_t> bytes) {
    m_impl->memory.set(kind, number, bank, std::move(bytes));
    save();
}

std::uint32_t VirtualZr7316::freeMemory() const {
    return m_impl->memory.freeMemory();
}

void VirtualZr7316::setStateFile(const QString& path) {
    m_impl->stateFile = path;
    m_impl->seen = false;
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path)) {
        m_impl->memory = zr7316::Memory::factory();
        return;
    }
    std::optional<zr7316::Memory> loaded;
    kbxio::Reason why;
    const QByteArray bytes =
        kbxio::readWhole(path, zr7316::kLargestStateFile, &why).value_or(QByteArray());
    if (!bytes.isEmpty())
        loaded = zr7316::Memory::fromJson(bytes);
    if (loaded) {
        m_impl->memory = std::move(*loaded);
        m_impl->rememberFile(bytes);
        return;
    }
    // Keep the unreadable file for whoever wants to look at it; never let it stop the keyboard.
    const QString bad = path + QStringLiteral(".bad");
    QFile::remove(bad);
    if (!QFile::rename(path, bad))
        qWarning("Virtual ZR-7316: cannot move the unreadable state file %s aside",
                 qPrintable(QDir::toNativeSeparators(path)));
    else
        qWarning("Virtual ZR-7316: state file %s unreadable, kept as %s; factory contents used",
                 qPrintable(QDir::toNativeSeparators(path)),
                 qPrintable(QDir::toNativeSeparators(bad)));
    m_impl->memory = zr7316::Memory::factory();
}

QString VirtualZr7316::stateFile() const {
    return m_impl->stateFile;
}

bool VirtualZr7316::save() const {
    if (m_impl->stateFile.isEmpty())
        return true;
    kbxio::Reason why;
    const QByteArray bytes = m_impl->memory.toJson();
    QDir().mkpath(QFileInfo(m_impl->stateFile).absolutePath());
    if (kbxio::writeWhole(m_impl->stateFile, bytes, &why)) {
        m_impl->rememberFile(bytes);
        return true;
    }
    // The file keeps the memory as it was; whoever made the change learns that it is not kept.
    m_impl->saveFailure =
        kbxio::fileError("Cannot save the built-in keyboard's memory to",
                         "内蔵キーボードのメモリーを保存できません:", m_impl->stateFile, why);
    return false;
}

std::optional<kbxio::FileError> VirtualZr7316::takeSaveFailure() {
    std::optional<kbxio::FileError> failure = std::move(m_impl->saveFailure);
    m_impl->saveFailure.reset();
    return failure;
}

QString VirtualZr7316::defaultStateFile() {
    // A test gives its programs a keyboard of their own: Windows keeps application data in a
    // folder that no variable of the environment moves (HOME and XDG_DATA_HOME do on Linux), so
    // every test there would share, and change, the user's own built-in keyboard.
    if (qgetenv("KBX_TEST") == "1")
        if (const QString file = qEnvironmentVariable("KBX_VIRTUAL_STATE"); !file.isEmpty())
            return file;
    // The application-data folder of Tovanel/KbxMan whatever the running program calls itself
    // (kbxtool, a test); the names are put back at once.
    const QString org = QCoreApplication::organizationName();
    const QString app = QCoreApplication::applicationName();
    const bool swap = org != QLatin1String("Tovanel") || app != QLatin1String("KbxMan");
    if (swap) {
        QCoreApplication::setOrganizationName(QStringLiteral("Tovanel"));
        QCoreApplication::setApplicationName(QStringLiteral("KbxMan"));
    }
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (swap) {
        QCoreApplication::setOrganizationName(org);
        QCoreApplication::setApplicationName(app);
    }
    if (dir.isEmpty())
        return {};
    return dir + QStringLiteral("/virtual-zr7316.json");
}

void VirtualZr7316::setFaults(const Faults& faults) {
    m_impl->faults = faults;
    m_impl->counter = 0;
    m_impl->handshakeTimesLeft = faults.handshakeTimes;
}

const VirtualZr7316::Faults& VirtualZr7316::faults() const {
    return m_impl->faults;
}

const std::vector<std::vector<std::uint8_t>>& VirtualZr7316::received() const {
    return m_impl->received;
}

const std::vector<std::vector<std::uint8_t>>& VirtualZr7316::sent() const {
    return m_impl->sent;
}

void VirtualZr7316::clearLog() {
    m_impl->received.clear();
    m_impl->sent.clear();
    m_impl->unexpected.clear();
}

void VirtualZr7316::setStrict(bool strict) {
    m_impl->strict = strict;
}

bool VirtualZr7316::isStrict() const {
    return m_impl->strict;
}

const std::vector<std::string>& VirtualZr7316::unexpected() const {
    return m_impl->unexpected;
}
