// The fault matrix: each user operation on the keyboard (list, import of a tone and of a 3-block
// song, send of a tone and of a 3-block song, delete of a song) against each fault the virtual
// ZR-7316 can inject. For every cell: the error text the user reads, both ports closed (the
// drive's link and the stream's), no local file created or changed, the keyboard tree and the
// keyboard's memory exactly as the failure leaves them, and the next operation succeeding.
//
// One parameter per operation and fault; a fault that strikes a given message or block is run
// once for each of them, with SCOPED_TRACE naming the step.
#include "faultkit.h"
#include "kbxfilestream.h"
#include "kbxmidistream.h"
#include "mididevices.h"
#include "msgstr.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbd.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

using namespace faultkit;

namespace {

enum class Op { List, ImportTone, ImportSong, SendTone, SendSong, DeleteSong };

enum class Fault {
    NoReply,       // message n gets no reply (it still takes effect)
    LateReply,     // every reply leaves 500 ms late, well beyond the 200 ms time-out
    WrongType,     // the keyboard reports type 1
    BadChecksum,   // data block b that the keyboard sends fails its checksum
    Handshake2,    // handshake 2 at block b
    Handshake3,    // handshake 3 at block b
    UnknownStatus, // handshake 5 at block b, every time the block comes
    UnexpectedType // message n is answered with a data request
};

struct Cell {
    Op op;
    Fault fault;
};

// The table. Cells that cannot occur are left out:
// - bad checksum, handshakes and statuses on the list and the delete: their exchanges are
//   parameter requests and writes only, with no data block and no handshake;
// - bad checksum on a send: there the keyboard sends no data blocks; a block that reaches the
//   keyboard damaged is answered with handshake 3, which is the Handshake3 cell;
// - wrong keyboard type on anything but the list: only the list asks the keyboard its type.
const Cell kCells[] = {
    {Op::List, Fault::NoReply},
    {Op::List, Fault::LateReply},
    {Op::List, Fault::WrongType},
    {Op::List, Fault::UnexpectedType},

    {Op::ImportTone, Fault::NoReply},
    {Op::ImportTone, Fault::LateReply},
    {Op::ImportTone, Fault::BadChecksum},
    {Op::ImportTone, Fault::Handshake2},
    {Op::ImportTone, Fault::Handshake3},
    {Op::ImportTone, Fault::UnknownStatus},
    {Op::ImportTone, Fault::UnexpectedType},

    {Op::ImportSong, Fault::NoReply},
    {Op::ImportSong, Fault::LateReply},
    {Op::ImportSong, Fault::BadChecksum},
    {Op::ImportSong, Fault::Handshake2},
    {Op::ImportSong, Fault::Handshake3},
    {Op::ImportSong, Fault::UnknownStatus},
    {Op::ImportSong, Fault::UnexpectedType},

    {Op::SendTone, Fault::NoReply},
    {Op::SendTone, Fault::LateReply},
    {Op::SendTone, Fault::Handshake2},
    {Op::SendTone, Fault::Handshake3},
    {Op::SendTone, Fault::UnknownStatus},
    {Op::SendTone, Fault::UnexpectedType},

    {Op::SendSong, Fault::NoReply},
    {Op::SendSong, Fault::LateReply},
    {Op::SendSong, Fault::Handshake2},
    {Op::SendSong, Fault::Handshake3},
    {Op::SendSong, Fault::UnknownStatus},
    {Op::SendSong, Fault::UnexpectedType},

    {Op::DeleteSong, Fault::NoReply},
    {Op::DeleteSong, Fault::LateReply},
    {Op::DeleteSong, Fault::UnexpectedType},
};

// What the keyboard receives during a clean run of an operation, in order.
enum class Msg {
    Param,       // parameter request (type 1)
    Delete,      // song-delete request, a parameter write (type 0): no reply
    DataRequest, // type 5
    Accept,      // handshake 1 (type 7) after a data block from the keyboard
    Block,       // data block (type 4)
    End          // handshake 0 ending a send: no reply
};

bool awaitsReply(Msg m) {
    return m != Msg::Delete && m != Msg::End;
}

// What a list of the contents that loadNewContents loads asks: the keyboard type; 10 tone and 10
// DSP names (two requests each); free memory; song 0 and 1 size and name (both present); free
// memory; rhythm 0 size (empty), rhythm 1 and 2 size and name, rhythm 3 size (empty); free memory.
constexpr int kListMessages = 1 + 20 + 20 + 1 + 3 + 3 + 1 + 1 + 3 + 3 + 1 + 1;
static_assert(kListMessages == 58);

std::vector<Msg> messagesOf(Op op) {
    switch (op) {
    case Op::List:
        return std::vector<Msg>(kListMessages, Msg::Param);
    case Op::ImportTone: // 60 bytes: one block
        return {Msg::DataRequest, Msg::Accept};
    case Op::ImportSong: // 300 bytes: blocks of 128, 128 and 44
        return {Msg::DataRequest, Msg::Accept, Msg::Accept, Msg::Accept};
    case Op::SendTone:
        return {Msg::Block, Msg::End};
    case Op::SendSong: // free memory, delete the old song, free memory, 3 blocks, end, refresh
        return {Msg::Param, Msg::Delete, Msg::Param, Msg::Block,
                Msg::Block, Msg::Block,  Msg::End,   Msg::Param};
    case Op::DeleteSong:
        return {Msg::Delete, Msg::Param};
    }
    return {};
}

bool isImport(Op op) {
    return op == Op::ImportTone || op == Op::ImportSong;
}

// Data blocks in the operation: sent by the keyboard (import) or by the host (send).
int blockCount(Op op) {
    return op == Op::ImportSong || op == Op::SendSong ? 3
           : op == Op::List || op == Op::DeleteSong   ? 0
                                                      : 1;
}

// The index of the message whose failure block b stands for: an import's block b answers message
// b; a send's block b is the b-th block message.
int messageOfBlock(Op op, int b) {
    if (isImport(op))
        return b;
    const auto messages = messagesOf(op);
    int seen = 0;
    for (std::size_t i = 0; i < messages.size(); ++i)
        if (messages[i] == Msg::Block && seen++ == b)
            return static_cast<int>(i);
    return -1;
}

struct Step {
    std::string label;
    VirtualZr7316::Faults faults;
    int failAt = -1; // the message at which the operation fails; -1: it succeeds
    std::string className;
    std::string text;
    int lateMs = 0;
    bool freshDrive = false; // the drive has not been listed before the operation
};

const char* kTimeout = "MIDI Timeout";

std::vector<Step> stepsOf(const Cell& cell) {
    std::vector<Step> steps;
    const std::vector<Msg> messages = messagesOf(cell.op);
    const auto sysex = [](std::string label, VirtualZr7316::Faults f, int failAt,
                          std::string text) {
        return Step{std::move(label), f, failAt, "ZxSysExException", std::move(text), 0};
    };
    switch (cell.fault) {
    case Fault::NoReply:
        for (std::size_t n = 0; n < messages.size(); ++n) {
            VirtualZr7316::Faults f;
            f.noReplyTo = static_cast<int>(n);
            // A message that awaits no reply cannot time out: the operation goes on.
            const bool fails = awaitsReply(messages[n]);
            steps.push_back(sysex("no reply to message " + std::to_string(n), f,
                                  fails ? static_cast<int>(n) : -1, fails ? kTimeout : ""));
        }
        break;
    case Fault::LateReply: {
        VirtualZr7316::Faults f;
        f.replyDelayMs = 500;
        const auto first = std::find_if(messages.begin(), messages.end(), awaitsReply);
        Step step = sysex("every reply 500 ms late", f, static_cast<int>(first - messages.begin()),
                          kTimeout);
        step.lateMs = 500;
        steps.push_back(step);
        break;
    }
    case Fault::WrongType: {
        VirtualZr7316::Faults f;
        f.keyboardType = 1;
        steps.push_back({"keyboard type 1", f, 0, "ZxKbdDrvException", "Unknown keyboard type", 0});
        break;
    }
    case Fault::BadChecksum:
        for (int b = 0; b < blockCount(cell.op); ++b) {
            VirtualZr7316::Faults f;
            f.badChecksumBlock = b;
            steps.push_back(sysex("bad checksum in block " + std::to_string(b), f,
                                  messageOfBlock(cell.op, b), "invaild checksum"));
        }
        break;
    case Fault::Handshake2:
    case Fault::Handshake3:
    case Fault::UnknownStatus: {
        const std::uint8_t status = cell.fault == Fault::Handshake2   ? 2
                                    : cell.fault == Fault::Handshake3 ? 3
                                                                      : 5;
        const char* text = status == 2   ? "rejected by keyboard"
                           : status == 3 ? "communication error occured"
                                         : "Unknown error";
        for (int b = 0; b < blockCount(cell.op); ++b) {
            VirtualZr7316::Faults f;
            f.handshakeAtBlock = b;
            f.handshakeStatus = status;
            steps.push_back(
                sysex("handshake " + std::to_string(status) + " at block " + std::to_string(b), f,
                      messageOfBlock(cell.op, b), text));
        }
        break;
    }
    case Fault::UnexpectedType:
        // Only a message that awaits a reply can meet a reply of the wrong type.
        for (std::size_t n = 0; n < messages.size(); ++n) {
            if (!awaitsReply(messages[n]))
                continue;
            VirtualZr7316::Faults f;
            f.unexpectedAt = static_cast<int>(n);
            steps.push_back(sysex("data request in reply to message " + std::to_string(n), f,
                                  static_cast<int>(n), "invalid System Exclusive message "));
        }
        break;
    }
    // A list starts from a drive that was listed before or from a fresh one (a failure keeps
    // the listed flag either way): every other step where the fault strikes each message, both
    // where it strikes once.
    if (cell.op == Op::List) {
        if (steps.size() == 1)
            steps.push_back(steps.front());
        for (std::size_t i = 1; i < steps.size(); i += 2) {
            steps[i].freshDrive = true;
            steps[i].label += ", fresh drive";
        }
    }
    return steps;
}

std::string opName(Op op) {
    switch (op) {
    case Op::List:
        return "list";
    case Op::ImportTone:
        return "importTone";
    case Op::ImportSong:
        return "importSong";
    case Op::SendTone:
        return "sendTone";
    case Op::SendSong:
        return "sendSong";
    case Op::DeleteSong:
        return "deleteSong";
    }
    return "op";
}

std::string faultName(Fault fault) {
    switch (fault) {
    case Fault::NoReply:
        return "NoReply";
    case Fault::LateReply:
        return "LateReply";
    case Fault::WrongType:
        return "WrongKeyboardType";
    case Fault::BadChecksum:
        return "BadChecksum";
    case Fault::Handshake2:
        return "Handshake2";
    case Fault::Handshake3:
        return "Handshake3";
    case Fault::UnknownStatus:
        return "UnknownStatus";
    case Fault::UnexpectedType:
        return "UnexpectedType";
    }
    return "fault";
}

// Failure messages name the cell, not its bytes.
void PrintTo(const Cell& cell, std::ostream* out) {
    *out << opName(cell.op) << " " << faultName(cell.fault);
}

// The slots the operations work on.
constexpr int kImportTone = 3; // "oTone3", 60 bytes
constexpr int kImportSong = 0; // "oFirst", 300 bytes: 3 blocks
constexpr int kSendTone = 5;   // "oTone5" replaced by "SENTTONE"
constexpr int kSendSong = 1;   // "oSecond" (150 bytes) replaced by "SENTSONG" (300 bytes)
constexpr int kDeleteSong = 1; // "oSecond"
constexpr std::uint32_t kOldSong1 = 150, kNewSong = 300;

const Bytes& sentTone() {
    static const Bytes bytes = namedItem(60, ZxKind::Tone, "SENTTONE", 7);
    return bytes;
}

const Bytes& sentSong() {
    static const Bytes bytes = namedItem(kNewSong, ZxKind::Song, "SENTSONG", 7);
    return bytes;
}

// The list's effect on the tree when it fails at a message: a node whose requests were all
// answered shows the new contents, a node none of whose requests was sent the old ones. A node the
// list was visiting shows its new size and presence with its old name (the name is the last thing
// a slot takes). A tone or DSP slot is visited from its first request on: the list marks it
// present with its fixed size before it asks the name. A song or rhythm slot, and a folder, only
// changes once its size or free memory has been answered.
struct ListReference {
    TreeSnapshot after;                           // the tree after a complete list
    std::map<std::string, std::vector<int>> asks; // node key -> indexes of its requests
    // A node the list fills without asking (registrations, banks): the last request before it,
    // all of which must be answered before the list reaches it.
    std::map<std::string, int> lastAskBefore;
};

// The nodes in the order the list visits them: each top-level folder (its free memory is asked
// first), then its contents, a subfolder after its own slots.
void appendVisits(const ZxDataDrive& folder, std::vector<std::string>& order) {
    for (int i = 0; i < folder.childCount(); ++i) {
        const ZxData& child = *folder.child(i);
        if (child.attributes() & ZxAttr::Directory) {
            appendVisits(static_cast<const ZxDataDrive&>(child), order);
            order.push_back(child.name());
        } else {
            order.push_back(slotKey(child.kind(), child.number(), child.bank()));
        }
    }
}

ListReference listReferenceOf(const std::vector<Bytes>& received, ZxKbdDrv& drive) {
    ListReference reference{snapshotTree(drive), {}, {}};
    const char* freeMemoryNodes[] = {"Song Rhythm:", "Song", "Rhythm"};
    int freeMemoryRequests = 0;
    for (std::size_t i = 0; i < received.size(); ++i) {
        const Bytes& m = received[i];
        EXPECT_EQ(m.at(5) >> 4, 1) << "message " << i << " " << kbxtest::toHex(m);
        const int kind = m.at(5) & 0x0F, param = m.at(6), index = m.at(10);
        const int dataNumber = m.at(8) | (m.at(9) << 7);
        std::string key;
        if (kind == ZxKind::Tone && (param == 96 || param == 97))
            key = slotKey(ZxKind::Tone, dataNumber - 384);
        else if (kind == ZxKind::Dsp && (param == 48 || param == 49))
            key = slotKey(ZxKind::Dsp, dataNumber - 100);
        else if (kind == 0 && param == 34 && freeMemoryRequests < 3)
            key = freeMemoryNodes[freeMemoryRequests++];
        else if (kind == 0 && param >= 35 && param <= 37)
            key = slotKey(ZxKind::Rhythm, index);
        else if (kind == 0 && param >= 38 && param <= 40)
            key = slotKey(ZxKind::Song, index);
        else if (kind == 0 && param == 0 && i == 0)
            continue; // the keyboard type
        else
            ADD_FAILURE() << "a list request for nothing: " << kbxtest::toHex(m);
        reference.asks[key].push_back(static_cast<int>(i));
    }

    std::vector<std::string> order;
    for (int i = 0; i < drive.folderCount(); ++i) {
        const ZxDataDrive& top = *drive.folderByName(drive.folderName(i));
        order.push_back(top.name());
        appendVisits(top, order);
    }
    int lastAsk = 0; // the keyboard-type request
    for (const std::string& key : order) {
        const auto asks = reference.asks.find(key);
        if (asks == reference.asks.end())
            reference.lastAskBefore[key] = lastAsk;
        else
            lastAsk = std::max(lastAsk, asks->second.back());
    }
    return reference;
}

TreeSnapshot treeAfterFailedList(const TreeSnapshot& before, const ListReference& reference,
                                 int failAt) {
    TreeSnapshot expected = before;
    for (const auto& [key, lastAsk] : reference.lastAskBefore)
        if (lastAsk < failAt)
            expected[key] = reference.after.at(key);
    for (const auto& [key, asks] : reference.asks) {
        const auto answered =
            std::count_if(asks.begin(), asks.end(), [failAt](int i) { return i < failAt; });
        const bool fixedSize = key.rfind("tone ", 0) == 0 || key.rfind("dsp ", 0) == 0;
        const bool visited = answered > 0 || (fixedSize && asks.front() <= failAt);
        if (!visited)
            continue;
        NodeState state = reference.after.at(key);
        if (static_cast<std::size_t>(answered) < asks.size())
            state.name = before.at(key).name;
        expected[key] = state;
    }
    return expected;
}

} // namespace

class FaultMatrix : public ::testing::TestWithParam<Cell> {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_kb = &registry.virtualKeyboard();
        m_kb->setStateFile(QString());
        m_in = registry.virtualInputNumber();
        m_out = registry.virtualOutputNumber();
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.filePath(QStringLiteral("chosen"));
    }

    void TearDown() override {
        m_stream.reset();
        m_kb->setFaults({});
        m_kb->setStrict(false);
        ZxKbdDrv::destroyInstance();
    }

    void loadOldContents() {
        m_kb->factoryReset();
        for (int n = 0; n < 10; ++n) {
            const std::string d(1, static_cast<char>('0' + n));
            m_kb->setItemBytes(ZxKind::Tone, n, 0, namedItem(60, ZxKind::Tone, "oTone" + d, n));
            m_kb->setItemBytes(ZxKind::Dsp, n, 0, namedItem(36, ZxKind::Dsp, "oDsp" + d, n));
        }
        m_kb->setItemBytes(ZxKind::Song, 0, 0, namedItem(300, ZxKind::Song, "oFirst"));
        m_kb->setItemBytes(ZxKind::Song, 1, 0, namedItem(kOldSong1, ZxKind::Song, "oSecond"));
        m_kb->setItemBytes(ZxKind::Rhythm, 0, 0, namedItem(124, ZxKind::Rhythm, "oRock"));
        m_kb->setItemBytes(ZxKind::Rhythm, 1, 0, {});
        m_kb->setItemBytes(ZxKind::Rhythm, 2, 0, namedItem(64, ZxKind::Rhythm, "oWaltz"));
        m_kb->setItemBytes(ZxKind::Rhythm, 3, 0, namedItem(90, ZxKind::Rhythm, "oLast"));
    }

    // Every name, size and the free memory differ from the old contents.
    void loadNewContents() {
        for (int n = 0; n < 10; ++n) {
            const std::string d(1, static_cast<char>('0' + n));
            m_kb->setItemBytes(ZxKind::Tone, n, 0, namedItem(60, ZxKind::Tone, "nTone" + d, n));
            m_kb->setItemBytes(ZxKind::Dsp, n, 0, namedItem(36, ZxKind::Dsp, "nDsp" + d, n));
        }
        m_kb->setItemBytes(ZxKind::Song, 0, 0, namedItem(420, ZxKind::Song, "nFirst"));
        m_kb->setItemBytes(ZxKind::Song, 1, 0, namedItem(200, ZxKind::Song, "nSecond"));
        m_kb->setItemBytes(ZxKind::Rhythm, 0, 0, {});
        m_kb->setItemBytes(ZxKind::Rhythm, 1, 0, namedItem(100, ZxKind::Rhythm, "nBeat"));
        m_kb->setItemBytes(ZxKind::Rhythm, 2, 0, namedItem(80, ZxKind::Rhythm, "nWaltz"));
        m_kb->setItemBytes(ZxKind::Rhythm, 3, 0, {});
    }

    // A new drive listed with the old contents (or, for a list, not listed at all), a folder
    // holding what the operation may touch, a keyboard in strict mode with an empty log.
    void prepare(Op op, bool freshDrive = false) {
        m_stream.reset();
        m_kb->setFaults({});
        m_kb->setStrict(false);
        loadOldContents();
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        if (!freshDrive)
            m_drive->readList(m_in, m_out);
        if (op == Op::List)
            loadNewContents();

        QDir(m_folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_folder));
        // An earlier import of the same item under the name the import will use, another file,
        // and a file beside the folder.
        auto oldTone = makeItem(ZxKind::Tone, namedItem(60, ZxKind::Tone, "oTone3", 99));
        writeFile(QDir(m_folder).filePath(QStringLiteral("TON_oTone3  .kbx")), *oldTone);
        auto oldSong = makeItem(ZxKind::Song, namedItem(280, ZxKind::Song, "oFirst", 99));
        writeFile(QDir(m_folder).filePath(QStringLiteral("SNG_oFirst  .kbx")), *oldSong);
        auto tone = makeItem(ZxKind::Tone, sentTone());
        writeFile(QDir(m_folder).filePath(QStringLiteral("send tone.kbx")), *tone);
        auto song = makeItem(ZxKind::Song, sentSong());
        writeFile(QDir(m_folder).filePath(QStringLiteral("send song.kbx")), *song);
        QFile beside(m_dir.filePath(QStringLiteral("beside.txt")));
        ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
        beside.write("not to be touched");
        beside.close();

        m_kb->setStrict(true);
        m_kb->clearLog();
    }

    // Runs the operation as the window does; the text of its failure, if it fails.
    std::optional<ErrorReport> run(Op op) {
        try {
            switch (op) {
            case Op::List:
                m_drive->readList(m_in, m_out);
                break;
            case Op::ImportTone:
                importSlot(slotOf(*m_drive, ZxKind::Tone, kImportTone), m_in, m_out, m_folder,
                           m_stream);
                break;
            case Op::ImportSong:
                importSlot(slotOf(*m_drive, ZxKind::Song, kImportSong), m_in, m_out, m_folder,
                           m_stream);
                break;
            case Op::SendTone:
                sendFile(QDir(m_folder).filePath(QStringLiteral("send tone.kbx")),
                         slotOf(*m_drive, ZxKind::Tone, kSendTone), m_in, m_out, m_stream);
                break;
            case Op::SendSong:
                sendFile(QDir(m_folder).filePath(QStringLiteral("send song.kbx")),
                         slotOf(*m_drive, ZxKind::Song, kSendSong), m_in, m_out, m_stream);
                break;
            case Op::DeleteSong:
                m_drive->deleteItem(slotOf(*m_drive, ZxKind::Song, kDeleteSong));
                break;
            }
        } catch (...) {
            return describeException(m_messages, std::current_exception());
        }
        return std::nullopt;
    }

    void expectPortsClosed() {
        EXPECT_FALSE(m_drive->link().isOpen()) << "the drive's link holds a device";
        if (m_stream) {
            EXPECT_FALSE(m_stream->portsOpen()) << "the stream holds a device";
        }
    }

    // The tree after the operation failed at message failAt (-1: it succeeded).
    TreeSnapshot expectedTree(Op op, const TreeSnapshot& before, int failAt) const {
        const bool ok = failAt < 0;
        TreeSnapshot tree = before;
        const std::int32_t freeBefore = before.at("Song Rhythm:").freeSpace;
        switch (op) {
        case Op::List:
            return ok ? m_listReference.after
                      : treeAfterFailedList(before, m_listReference, failAt);
        case Op::ImportTone:
        case Op::ImportSong:
            break; // an import reads: the tree stays as it was
        case Op::SendTone:
            // A failed send of a tone keeps the slot's name and presence; its size is the
            // item's (60, as before).
            if (ok) {
                tree[slotKey(ZxKind::Tone, kSendTone)].name = "SENTTONE";
                tree[slotKey(ZxKind::Tone, kSendTone)].present = true;
            }
            break;
        case Op::SendSong: {
            // Messages: 0 free memory, 1 delete, 2 free memory, 3-5 blocks, 6 end, 7 refresh.
            NodeState& slot = tree[slotKey(ZxKind::Song, kSendSong)];
            if (ok || failAt > 1) // the old song is deleted, and shown so
                slot = {"Song 1", 0, false, 0};
            if (ok || failAt >= 3) // the transfer has begun: the slot has the item's size
                slot.size = kNewSong;
            if (ok || failAt > 6) { // the keyboard has the new song
                slot.name = "SENTSONG";
                slot.present = true;
            }
            std::int32_t& freeSpace = tree["Song Rhythm:"].freeSpace;
            if (ok)
                freeSpace = freeBefore + static_cast<std::int32_t>(kOldSong1) -
                            static_cast<std::int32_t>(kNewSong);
            else if (failAt > 2)
                freeSpace = freeBefore + static_cast<std::int32_t>(kOldSong1);
            break;
        }
        case Op::DeleteSong:
            // The delete request awaits no reply: once it has left, the slot shows the deletion.
            tree[slotKey(ZxKind::Song, kDeleteSong)] = {"Song 1", 0, false, 0};
            if (ok)
                tree["Song Rhythm:"].freeSpace = freeBefore + static_cast<std::int32_t>(kOldSong1);
            break;
        }
        return tree;
    }

    // The keyboard's memory after the operation failed at message failAt (-1: it succeeded).
    MemorySnapshot expectedMemory(Op op, const MemorySnapshot& before, int failAt) const {
        const bool ok = failAt < 0;
        MemorySnapshot memory = before;
        switch (op) {
        case Op::List:
        case Op::ImportTone:
        case Op::ImportSong:
            break;
        case Op::SendTone:
            if (ok)
                memory[slotKey(ZxKind::Tone, kSendTone)] = sentTone();
            break;
        case Op::SendSong:
            if (ok || failAt > 6)
                memory[slotKey(ZxKind::Song, kSendSong)] = sentSong();
            else if (failAt > 1)
                memory[slotKey(ZxKind::Song, kSendSong)].clear();
            break;
        case Op::DeleteSong:
            memory[slotKey(ZxKind::Song, kDeleteSong)].clear();
            break;
        }
        return memory;
    }

    // A clean run, which also checks that the table's messages are the ones sent.
    void runClean(Op op) {
        prepare(op);
        const auto error = run(op);
        ASSERT_FALSE(error) << error->message;
        const std::vector<Msg> expected = messagesOf(op);
        const auto& received = m_kb->received();
        ASSERT_EQ(received.size(), expected.size());
        for (std::size_t i = 0; i < received.size(); ++i) {
            const Bytes& m = received[i];
            const int type = m.at(5) >> 4;
            switch (expected[i]) {
            case Msg::Param:
                EXPECT_EQ(type, 1) << i;
                break;
            case Msg::Delete:
                EXPECT_EQ(kbxtest::toHex(m), "F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7") << i;
                break;
            case Msg::DataRequest:
                EXPECT_EQ(type, 5) << i;
                break;
            case Msg::Accept:
                EXPECT_EQ(type, 7) << i;
                EXPECT_EQ(m.at(10), 1) << i;
                break;
            case Msg::Block:
                EXPECT_EQ(type, 4) << i;
                break;
            case Msg::End:
                EXPECT_EQ(type, 7) << i;
                EXPECT_EQ(m.at(10), 0) << i;
                break;
            }
        }
        for (const auto& why : m_kb->unexpected())
            ADD_FAILURE() << why;
        if (op == Op::List)
            m_listReference = listReferenceOf(received, *m_drive);
        if (isImport(op)) {
            // The import writes where the failure cells expect the old file to stay.
            const QString name = op == Op::ImportTone ? QStringLiteral("TON_oTone3  .kbx")
                                                      : QStringLiteral("SNG_oFirst  .kbx");
            ZxDataFile item(ZxKind::Undetermined);
            KbxFileStream(QDir(m_folder).filePath(name), KbxFileStream::Read).read(item);
            EXPECT_EQ(item.size(), op == Op::ImportTone ? 60u : 300u);
            EXPECT_EQ(item.payload(),
                      makeItem(item.kind(),
                               m_kb->itemBytes(item.kind(),
                                               op == Op::ImportTone ? kImportTone : kImportSong))
                          ->payload());
        }
    }

    // After a failure: the drive lists, its tree agrees with the keyboard, and the operation
    // itself goes through.
    void expectRecovery(Op op, int lateMs) {
        m_kb->setFaults({});
        if (lateMs > 0)
            kbxtest::spin(lateMs + 100); // let the late reply reach the closed ports and vanish
        m_kb->setStrict(false);
        m_stream.reset();
        try {
            m_drive->readList(m_in, m_out);
        } catch (...) {
            ADD_FAILURE() << "the next list failed: "
                          << describeException(m_messages, std::current_exception()).message;
            return;
        }
        EXPECT_TRUE(m_drive->isListed());
        expectPortsClosed();
        for (int n = 0; n < VirtualZr7316::kSongs; ++n) {
            const ZxData& slot = slotOf(*m_drive, ZxKind::Song, n);
            EXPECT_EQ(slot.size(), m_kb->itemBytes(ZxKind::Song, n).size()) << "song " << n;
            EXPECT_EQ(slot.isPresent(), !m_kb->itemBytes(ZxKind::Song, n).empty()) << "song " << n;
        }
        EXPECT_EQ(m_drive->folderByName("Song Rhythm:")->freeSpace(),
                  static_cast<std::int32_t>(m_kb->freeMemory()));
        if (op == Op::List)
            return;
        const auto error = run(op);
        EXPECT_FALSE(error) << "the operation failed again: " << error->message;
        expectPortsClosed();
    }

    VirtualZr7316* m_kb = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    int m_in = 0;
    int m_out = 0;
    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<KbxMidiStream> m_stream;
    MsgStr m_messages{1033};
    ListReference m_listReference;
};

TEST_P(FaultMatrix, failureIsReportedAndLeavesNothingBehind) {
    const Cell cell = GetParam();
    runClean(cell.op);
    if (HasFatalFailure())
        return;

    for (const Step& step : stepsOf(cell)) {
        SCOPED_TRACE(step.label);
        prepare(cell.op, step.freshDrive);
        const bool listedBefore = m_drive->isListed();
        const FolderSnapshot folderBefore = snapshotFolder(m_dir.path());
        const TreeSnapshot treeBefore = snapshotTree(*m_drive);
        const MemorySnapshot memoryBefore = snapshotMemory(*m_kb);

        m_kb->setFaults(step.faults);
        const std::optional<ErrorReport> error = run(cell.op);

        if (step.failAt < 0) {
            EXPECT_FALSE(error) << "failed: " << error->message;
        } else if (!error) {
            ADD_FAILURE() << "succeeded";
        } else {
            EXPECT_EQ(error->className, step.className);
            EXPECT_EQ(error->message, step.text);
        }
        expectPortsClosed();
        const FolderSnapshot folderAfter = snapshotFolder(m_dir.path());
        EXPECT_TRUE(folderAfter == folderBefore) << describeDifference(folderBefore, folderAfter);
        expectTree(snapshotTree(*m_drive), expectedTree(cell.op, treeBefore, step.failAt));
        EXPECT_EQ(m_drive->isListed(), listedBefore || step.failAt < 0);
        const MemorySnapshot memory = snapshotMemory(*m_kb);
        const MemorySnapshot expectedMem = expectedMemory(cell.op, memoryBefore, step.failAt);
        for (const auto& [key, bytes] : expectedMem)
            EXPECT_EQ(memory.at(key), bytes) << "keyboard memory of " << key;
        // The host sent nothing the keyboard did not expect, also not while failing.
        for (const auto& why : m_kb->unexpected())
            ADD_FAILURE() << why;
        if (cell.fault == Fault::WrongType) {
            EXPECT_EQ(m_kb->received().size(), 1u) << "more than the keyboard-type request";
        }

        expectRecovery(cell.op, step.lateMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(kCells),
                         [](const ::testing::TestParamInfo<Cell>& info) {
                             return opName(info.param.op) + faultName(info.param.fault);
                         });
