// The randomised model test: random sequences of list, import, send, delete, undo, backup, restore
// and cancel against the virtual keyboard through the real ports and event loop, with random
// faults of the keyboard (a block that loses a zero word on the way among them) switched on for
// each step: one from its start, and one from a later part of it, so that the send after a
// snapshot and the put-back after a failed send meet faults too. After every step:
//   - every song or rhythm that was ever in the keyboard is there still or in the history, byte
//     for byte (the keyboard's memory is looked at before every message, so items that lived
//     only during a step count too);
//   - every data file in the test's folders parses and holds an item that existed: nothing is
//     truncated or replaced by a partial file;
//   - the history passes its integrity check and every row has its file;
//   - an error that says the song or rhythm in the slot has been put back is true: the slot
//     holds it;
//   - the ports are closed, and the next operation (a list without faults) works.
// RapidCheck shrinks a failing sequence and prints it, steps and faults, so that it can become a
// fixed test. Two more cases plant a fault and expect the property to find the lost song: sends
// that keep nothing (so there is nothing to put back), and a put-back that sends nothing while
// the history keeps the song and the user is told it is back.
#include "faultkit.h"
#include "mididevices.h"
#include "msgstr.h"
#include "ops/backup.h"
#include "ops/cancel.h"
#include "ops/datafile.h"
#include "ops/history.h"
#include "ops/keyboard.h"
#include "ops/slotref.h"
#include "ops/undo.h"
#include "tapbackend.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbd.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <rapidcheck.h>

#include <climits>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <utility>

using namespace faultkit;

namespace model {

// ---- the steps ---------------------------------------------------------------------------------

enum class Op { List, Import, Send, Delete, Undo, Backup, Restore };

struct Fault {
    enum Kind { None, NoReply, LateReply, BadChecksum, Handshake, Dropped, ShortBlock } kind = None;
    int at = 0; // the message or block it strikes (NoReply, BadChecksum, Handshake, ShortBlock)
    std::uint8_t status = 2; // Handshake: 2, 3 or a status the protocol does not know
    int times = 1;           // Handshake: how often; -1 every time
    int every = 0;           // Dropped: every n-th message is lost
};

struct Step {
    Op op = Op::List;
    std::uint16_t kind = ZxKind::Song; // the slot's kind
    int number = 0;                    // the slot's number
    int source = 0;                    // Send: which of the source files of that kind
    Fault fault;                       // switched on as the step starts
    Fault later;       // replaces it as the operation begins its part laterPart: a send's
    int laterPart = 1; // snapshot is part 0, the send 1, a put-back 2
    int cancelAt = -1; // cancel while message n (from 0) is handed to the port; -1 never
};

const char* opName(Op op) {
    switch (op) {
    case Op::List:
        return "list";
    case Op::Import:
        return "import";
    case Op::Send:
        return "send";
    case Op::Delete:
        return "delete";
    case Op::Undo:
        return "undo";
    case Op::Backup:
        return "backup";
    case Op::Restore:
        return "restore";
    }
    return "?";
}

const char* kindName(std::uint16_t kind) {
    return kind == ZxKind::Song ? "song" : kind == ZxKind::Rhythm ? "rhythm" : "tone";
}

// RapidCheck prints a counterexample with these: one line per step, as a fixed test would set it
// up.
void showValue(const Fault& f, std::ostream& os) {
    switch (f.kind) {
    case Fault::None:
        os << "no fault";
        break;
    case Fault::NoReply:
        os << "noReplyTo=" << f.at;
        break;
    case Fault::LateReply:
        os << "replyDelayMs=300";
        break;
    case Fault::BadChecksum:
        os << "badChecksumBlock=" << f.at;
        break;
    case Fault::Handshake:
        os << "handshakeAtBlock=" << f.at << " status=" << int(f.status) << " times=" << f.times;
        break;
    case Fault::Dropped:
        os << "dropEvery=" << f.every;
        break;
    case Fault::ShortBlock:
        os << "dropZeroWordBlock=" << f.at;
        break;
    }
}

void showValue(const Step& s, std::ostream& os) {
    os << opName(s.op);
    if (s.op == Op::Import || s.op == Op::Send || s.op == Op::Delete)
        os << ' ' << kindName(s.kind) << ':' << s.number;
    if (s.op == Op::Send)
        os << " from source " << s.source;
    os << ", ";
    showValue(s.fault, os);
    if (s.later.kind != Fault::None) {
        os << ", from part " << s.laterPart << ' ';
        showValue(s.later, os);
    }
    if (s.cancelAt >= 0)
        os << ", cancel at message " << s.cancelAt;
}

// The source files a send may take, by kind: sizes from one block to a large share of the song
// memory, so that some sends do not fit and replacing a song matters.
struct Source {
    std::uint16_t kind;
    std::size_t size;
    const char* name;
};
const std::vector<Source>& sources() {
    static const std::vector<Source> list = {
        {ZxKind::Song, 100, "Tiny"},
        {ZxKind::Song, 700, "Medium"},
        {ZxKind::Song, 9000, "Large"},
        {ZxKind::Song, 14000, "Huge"},
        {ZxKind::Rhythm, 200, "Beat"},
        {ZxKind::Rhythm, 1500, "Groove"},
        {ZxKind::Tone, VirtualZr7316::kToneSize, "Bright"},
    };
    return list;
}
int sourceCount(std::uint16_t kind) {
    int n = 0;
    for (const Source& s : sources())
        n += s.kind == kind;
    return n;
}

// An item whose every block holds a zero word, as songs and rhythms hold rests and padding: a
// block the keyboard sends can then lose one on the way.
Bytes modelItem(std::size_t size, std::uint16_t kind, const char* name, int seed) {
    Bytes bytes = namedItem(size, kind, name, seed);
    if (kind != ZxKind::Song && kind != ZxKind::Rhythm)
        return bytes;
    for (std::size_t block = 0; block + 2 <= size; block += 128) {
        const std::size_t at = std::min(block + 120, (size - 2) & ~std::size_t{1});
        if (at >= 16) // past the name
            bytes[at] = bytes[at + 1] = 0;
    }
    return bytes;
}

// noFault: the weight of no fault at all, against 13 for the faults together.
rc::Gen<Fault> genFault(int noFault) {
    return rc::gen::exec([noFault] {
        Fault f;
        f.kind = *rc::gen::weightedElement<Fault::Kind>({{noFault, Fault::None},
                                                         {2, Fault::NoReply},
                                                         {1, Fault::LateReply},
                                                         {3, Fault::BadChecksum},
                                                         {4, Fault::Handshake},
                                                         {1, Fault::Dropped},
                                                         {2, Fault::ShortBlock}});
        f.at = *rc::gen::inRange(0, 12);
        f.status = *rc::gen::element<std::uint8_t>(2, 3, 0x55);
        f.times = *rc::gen::element(1, -1);
        f.every = *rc::gen::inRange(4, 40);
        return f;
    });
}

rc::Gen<Step> genStep() {
    return rc::gen::exec([] {
        Step s;
        s.op = *rc::gen::weightedElement<Op>({{1, Op::List},
                                              {2, Op::Import},
                                              {9, Op::Send},
                                              {3, Op::Delete},
                                              {3, Op::Undo},
                                              {1, Op::Backup},
                                              {1, Op::Restore}});
        s.kind = s.op == Op::Delete
                     ? *rc::gen::element(ZxKind::Song, ZxKind::Rhythm)
                     : *rc::gen::weightedElement<std::uint16_t>(
                           {{5, ZxKind::Song}, {2, ZxKind::Rhythm}, {1, ZxKind::Tone}});
        const int slotCount = s.kind == ZxKind::Song     ? VirtualZr7316::kSongs
                              : s.kind == ZxKind::Rhythm ? VirtualZr7316::kRhythms
                                                         : 2;
        s.number = *rc::gen::inRange(0, slotCount);
        s.source = *rc::gen::inRange(0, sourceCount(s.kind));
        // A fault from the start strikes the snapshot first, if there is one; a later one the
        // change itself, or what puts a failed change right.
        s.fault = *genFault(20);
        s.later = *genFault(4);
        s.laterPart = *rc::gen::weightedElement<int>({{4, 1}, {1, 2}});
        // Most steps run to their end; some are cancelled somewhere within their messages.
        s.cancelAt = *rc::gen::weightedElement<bool>({{6, false}, {1, true}})
                         ? *rc::gen::inRange(0, 30)
                         : -1;
        return s;
    });
}

// ---- the world a sequence runs in ------------------------------------------------------------

// Switches a step's first faults on at once and its later ones, if any, as the operation begins
// its part `laterPart`; switching faults on starts the keyboard's message count afresh, so a
// fault's message or block counts from there.
class FaultArming : public kbxops::Progress {
public:
    FaultArming(VirtualZr7316& keyboard, const VirtualZr7316::Faults& first,
                std::optional<VirtualZr7316::Faults> later, int laterPart)
        : m_keyboard(keyboard)
        , m_later(std::move(later))
        , m_laterPart(laterPart) {
        m_keyboard.setFaults(first);
    }
    void begin(const kbxops::Step&) override {
        if (m_begun++ == m_laterPart && m_later)
            m_keyboard.setFaults(*m_later);
    }
    void advanceTo(std::uint32_t) override {}
    void end() override {}

private:
    VirtualZr7316& m_keyboard;
    std::optional<VirtualZr7316::Faults> m_later;
    int m_laterPart = 0;
    int m_begun = 0;
};

using Item = std::pair<std::uint16_t, Bytes>; // kind, the bytes the keyboard stores

// A fault the property must find.
enum class Planted {
    None,
    NoHistoryForSends, // sends keep nothing, so a failed one has nothing to put back
    PutBackLost,       // the cable loses the end of a transfer that follows an abandoned one
                       // (the put-back): the keyboard stores nothing, the user is told it is
                       // back
};

// What a failed change's error adds when the old song or rhythm is back in its slot.
bool saysPutBack(const QString& note) {
    return note == QLatin1String("The song that was in the slot has been put back.") ||
           note == QLatin1String("The rhythm that was in the slot has been put back.");
}

// Loses the host's end-of-transfer handshake of a transfer begun while another was left
// unfinished, as a put-back after a failed send is: below everything the program can see.
std::function<bool(const Bytes&)> putBackEndLoss() {
    auto abandoned = std::make_shared<bool>(false);
    auto underWay = std::make_shared<bool>(false);
    return [abandoned, underWay](const Bytes& m) {
        if (m.size() < 12)
            return false;
        const std::uint8_t type = m[5] >> 4;
        if (type == ZxSysExType::DataBlock && m[10] == 0 && m[11] == 0) {
            *abandoned = *underWay;
            *underWay = true;
        } else if (type == ZxSysExType::Handshake && m[10] == ZxSysExStatus::End) {
            *underWay = false;
            return std::exchange(*abandoned, false);
        }
        return false;
    };
}

class World {
public:
    explicit World(Planted planted = Planted::None)
        : m_planted(planted) {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_tap = std::make_shared<kbxtest::TapBackend>();
        registry.setTestBackend(m_tap);
        if (planted == Planted::PutBackLost)
            m_tap->setLossFilter(putBackEndLoss());
        m_kb = &registry.virtualKeyboard();
        m_kb->setStateFile(QString());
        m_kb->setFaults({});
        m_kb->setStrict(false);
        m_kb->factoryReset();
        m_kb->setItemBytes(ZxKind::Song, 1, 0, modelItem(1200, ZxKind::Song, "Second", 11));
        m_kb->setItemBytes(ZxKind::Rhythm, 1, 0, modelItem(400, ZxKind::Rhythm, "OwnBeat", 12));
        m_kb->clearLog();
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        QDir().mkpath(local());
        QDir().mkpath(sourceFolder());
        for (std::size_t i = 0; i < sources().size(); ++i) {
            const Source& s = sources()[i];
            const Bytes bytes = modelItem(s.size, s.kind, s.name, 20 + static_cast<int>(i));
            auto item = makeItem(s.kind, bytes);
            writeFile(sourcePath(static_cast<int>(i)), *item);
            m_known.insert({s.kind, bytes});
        }
        m_history = std::make_unique<kbxops::History>(m_dir.filePath(QStringLiteral("history")));
        observe(true);
        keyboard().list();
    }

    ~World() {
        m_kb->setFaults({});
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
        ZxKbdDrv::destroyInstance();
    }

    kbxops::Keyboard keyboard(bool forSend = false, kbxops::Progress* progress = nullptr) {
        kbxops::Keyboard kbd(*m_drive, {0, 0}, progress); // the tap is device 0 on both sides
        kbd.setSafety(kbxops::Safety{
            forSend && m_planted == Planted::NoHistoryForSends ? nullptr : m_history.get(), false,
            true});
        return kbd;
    }

    // Runs one step with its fault and cancel; its own failure is an allowed outcome.
    void run(const Step& step) {
        FaultArming arming(*m_kb, faultsOf(step.fault),
                           step.later.kind == Fault::None
                               ? std::nullopt
                               : std::optional<VirtualZr7316::Faults>(faultsOf(step.later)),
                           step.laterPart);
        {
            kbxops::Cancellation cancellation;
            const kbxops::CancelScope scope(cancellation);
            m_tap->clear();
            m_tap->setSendHook([&](int index, const Bytes&) {
                observe(false);
                if (index == step.cancelAt)
                    cancellation.cancel();
            });
            m_putBackClaim.reset();
            const std::optional<kbxops::SlotAddress> target = changedSlot(step);
            const Bytes before =
                target ? m_kb->itemBytes(target->kind, target->number, target->bank) : Bytes{};
            try {
                perform(step, arming);
            } catch (const NotedException& error) {
                if (target && saysPutBack(error.note(false)))
                    m_putBackClaim = Claim{*target, before};
            } catch (...) {
            }
            m_tap->setSendHook({});
        }
        m_kb->setFaults({});
        // A late reply must reach the closed ports and vanish before the next step.
        if (step.fault.kind == Fault::LateReply || step.later.kind == Fault::LateReply)
            kbxtest::spin(350);
        observe(true);
    }

    // Every invariant; the first that does not hold is the failure, with what it found.
    void check(const std::vector<Step>& done) {
        const auto where = [&] {
            std::ostringstream os;
            os << " after step " << done.size() << " (";
            showValue(done.back(), os);
            os << ")";
            return os.str();
        };
        if (m_tap->openConnections() != 0 || m_drive->link().isOpen())
            RC_FAIL("ports left open" + where());
        checkPutBack(where);
        checkItems(where);
        checkFiles(where);
        checkHistory(where);
        try {
            keyboard().list();
        } catch (...) {
            RC_FAIL("the next list failed: " + describe(std::current_exception()) + where());
        }
        if (m_tap->openConnections() != 0)
            RC_FAIL("ports left open by the list" + where());
        observe(true);
    }

private:
    QString local() const { return m_dir.filePath(QStringLiteral("local")); }
    QString sourceFolder() const { return m_dir.filePath(QStringLiteral("sources")); }
    QString backupFolder() const { return m_dir.filePath(QStringLiteral("backup")); }
    QString sourcePath(int index) const {
        return QDir(sourceFolder()).filePath(QStringLiteral("source%1.kbx").arg(index));
    }

    static VirtualZr7316::Faults faultsOf(const Fault& f) {
        VirtualZr7316::Faults faults;
        switch (f.kind) {
        case Fault::None:
            break;
        case Fault::NoReply:
            faults.noReplyTo = f.at;
            break;
        case Fault::LateReply:
            faults.replyDelayMs = 300;
            break;
        case Fault::BadChecksum:
            faults.badChecksumBlock = f.at;
            break;
        case Fault::Handshake:
            faults.handshakeAtBlock = f.at;
            faults.handshakeStatus = f.status;
            faults.handshakeTimes = f.times;
            break;
        case Fault::Dropped:
            faults.dropEvery = f.every;
            break;
        case Fault::ShortBlock:
            faults.dropZeroWordBlock = f.at;
            break;
        }
        return faults;
    }

    void perform(const Step& step, kbxops::Progress& progress) {
        kbxops::Keyboard kbd = keyboard(step.op == Op::Send, &progress);
        switch (step.op) {
        case Op::List:
            kbd.list();
            break;
        case Op::Import:
            kbd.importSlot(slotOf(*m_drive, step.kind, step.number), local());
            break;
        case Op::Send: {
            int index = -1;
            for (int i = 0, n = 0; i < static_cast<int>(sources().size()); ++i)
                if (sources()[i].kind == step.kind && n++ == step.source)
                    index = i;
            kbd.sendFile(sourcePath(index), slotOf(*m_drive, step.kind, step.number));
            break;
        }
        case Op::Delete:
            kbd.remove(slotOf(*m_drive, step.kind, step.number));
            break;
        case Op::Undo:
            kbxops::undoLast(kbd, *m_history);
            break;
        case Op::Backup:
            kbxops::backupKeyboard(kbd, backupFolder());
            break;
        case Op::Restore:
            kbxops::restoreBackup(kbd, backupFolder(), MsgStr(1033));
            break;
        }
    }

    // Notes what the keyboard holds: songs and rhythms before every message (cheap), everything
    // between steps.
    void observe(bool everything) {
        for (int n = 0; n < VirtualZr7316::kSongs; ++n)
            note(ZxKind::Song, m_kb->itemBytes(ZxKind::Song, n), true);
        for (int n = 0; n < VirtualZr7316::kRhythms; ++n)
            note(ZxKind::Rhythm, m_kb->itemBytes(ZxKind::Rhythm, n), true);
        if (!everything)
            return;
        for (int n = 0; n < VirtualZr7316::kTones; ++n)
            note(ZxKind::Tone, m_kb->itemBytes(ZxKind::Tone, n), false);
        for (int n = 0; n < VirtualZr7316::kDsps; ++n)
            note(ZxKind::Dsp, m_kb->itemBytes(ZxKind::Dsp, n), false);
        for (int b = 0; b < VirtualZr7316::kBanks; ++b)
            for (int n = 0; n < VirtualZr7316::kRegistrationsPerBank; ++n)
                note(ZxKind::Registration, m_kb->itemBytes(ZxKind::Registration, n, b), false);
    }
    void note(std::uint16_t kind, Bytes bytes, bool precious) {
        if (bytes.empty())
            return;
        if (precious)
            m_ever.insert({kind, bytes});
        m_known.insert({kind, std::move(bytes)});
    }

    template <class Where>
    void checkItems(const Where& where) {
        std::set<Item> kept;
        for (int n = 0; n < VirtualZr7316::kSongs; ++n)
            kept.insert({ZxKind::Song, m_kb->itemBytes(ZxKind::Song, n)});
        for (int n = 0; n < VirtualZr7316::kRhythms; ++n)
            kept.insert({ZxKind::Rhythm, m_kb->itemBytes(ZxKind::Rhythm, n)});
        for (const kbxops::HistoryEntry& entry : m_history->entries()) {
            if (!entry.before)
                continue;
            try {
                const QByteArray all = readAll(entry.before->file);
                kept.insert({entry.kind,
                             Bytes(all.begin() + std::min<qsizetype>(64, all.size()), all.end())});
            } catch (...) {
            }
        }
        for (const Item& item : m_ever)
            if (!kept.count(item))
                RC_FAIL("a " + std::string(kindName(item.first)) + " of " +
                        std::to_string(item.second.size()) + " bytes is lost: neither in the " +
                        "keyboard nor in the history" + where());
    }

    // The one slot a send or an undo changes (a restore changes many, and is not followed).
    std::optional<kbxops::SlotAddress> changedSlot(const Step& step) const {
        if (step.op == Op::Send)
            return kbxops::SlotAddress{step.kind, step.number, 0};
        if (step.op == Op::Undo)
            if (const auto entry = kbxops::undoTarget(*m_history)) {
                const kbxops::ShortFormParse parsed = kbxops::parseShortForm(entry->slot);
                if (parsed.status == kbxops::ShortFormParse::Valid)
                    return parsed.address;
            }
        return std::nullopt;
    }

    // The error of a failed change that says the old song is back tells the truth.
    template <class Where>
    void checkPutBack(const Where& where) {
        if (!m_putBackClaim)
            return;
        const kbxops::SlotAddress& slot = m_putBackClaim->slot;
        const Bytes now = m_kb->itemBytes(slot.kind, slot.number, slot.bank);
        if (now != m_putBackClaim->before)
            RC_FAIL("the error says the " + std::string(kindName(slot.kind)) + " of " +
                    std::to_string(m_putBackClaim->before.size()) + " bytes in " +
                    kbxops::shortForm(slot).toStdString() +
                    " has been put back, but the slot holds " + std::to_string(now.size()) +
                    " other bytes" + where());
    }

    static std::string describe(std::exception_ptr error) {
        const ErrorReport report = describeException(MsgStr(1033), error);
        return report.className + ": " + report.message;
    }

    static QByteArray readAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every data file below the test's folder parses and holds an item that existed.
    template <class Where>
    void checkFiles(const Where& where) {
        QDirIterator it(m_dir.path(), {QStringLiteral("*.kbx")}, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            std::unique_ptr<ZxDataFile> item;
            try {
                item = kbxops::readDataFile(path);
            } catch (...) {
                RC_FAIL("the file " + path.toStdString() +
                        " does not parse: " + describe(std::current_exception()) + where());
            }
            const QByteArray all = readAll(path);
            const Item held{item->kind(), Bytes(all.begin() + 64, all.end())};
            if (!m_known.count(held))
                RC_FAIL("the file " + path.toStdString() + " holds an item that never existed (" +
                        std::to_string(held.second.size()) + " bytes)" + where());
        }
    }

    template <class Where>
    void checkHistory(const Where& where) {
        for (const kbxops::HistoryEntry& entry : m_history->entries())
            if (entry.before) {
                try {
                    m_history->load(*entry.before);
                } catch (const std::exception& error) {
                    RC_FAIL("history entry " + std::to_string(entry.id) +
                            " lacks its file: " + error.what() + where());
                }
            }
        if (!QFile::exists(m_history->databasePath()))
            return; // nothing recorded yet
        const QString name = QStringLiteral("model-integrity");
        std::string result;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_history->databasePath());
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                    result = query.value(0).toString().toStdString();
                else
                    result = "the check could not run";
            } else {
                result = "the database does not open";
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (result != "ok")
            RC_FAIL("the history fails its integrity check: " + result + where());
    }

    Planted m_planted = Planted::None;
    struct Claim {
        kbxops::SlotAddress slot;
        Bytes before;
    };
    std::optional<Claim> m_putBackClaim; // what a failed change's error said is back in its slot
    QTemporaryDir m_dir;
    std::shared_ptr<kbxtest::TapBackend> m_tap;
    VirtualZr7316* m_kb = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    std::unique_ptr<kbxops::History> m_history;
    std::set<Item> m_ever;  // songs and rhythms that were in the keyboard
    std::set<Item> m_known; // every item that existed anywhere, sources included
};

// The property: any sequence of up to kMaxSteps steps keeps every invariant after every step.
constexpr int kMaxSteps = 8;
constexpr int kFullSize = 100; // RapidCheck's largest size

void runSequence(Planted planted) {
    // Each step at full size: RapidCheck's ranges otherwise start at their minimum and grow over
    // the budget, and the early runs, faults at message 0 only, rarely reach a put-back. The
    // sequence's own size is its length, and shrinking drops the steps a failure does not need.
    const auto steps =
        *rc::gen::resize(kMaxSteps, rc::gen::nonEmpty(rc::gen::container<std::vector<Step>>(
                                        rc::gen::resize(kFullSize, genStep()))));
    World world(planted);
    std::vector<Step> done;
    for (const Step& step : steps) {
        world.run(step);
        done.push_back(step);
        world.check(done);
    }
}

} // namespace model

TEST(Model, everyStepOfAnySequenceKeepsEveryItemEveryFileTheHistoryAndThePortsWhole) {
    EXPECT_TRUE(rc::check("the safety net holds after every step",
                          [] { model::runSequence(model::Planted::None); }));
}

// The test proves it can fail: with a planted fault it must find a lost song or rhythm within its
// budget, and print the shrunk sequence. Sends that keep nothing have nothing to put back when
// they fail after the delete.
TEST(Model, aSendWithoutItsSafetyNetIsCaughtLosingASong) {
    EXPECT_FALSE(rc::check("the planted fault is found",
                           [] { model::runSequence(model::Planted::NoHistoryForSends); }));
}

// The subtler one: the history keeps the song, so nothing is lost from the record, but the cable
// loses the put-back's last message, so the keyboard does not get it back although the program
// had every reason to say it did.
TEST(Model, aPutBackLostOnTheCableIsCaughtByTheSongMissingFromItsSlot) {
    EXPECT_FALSE(rc::check("the lost put-back is found",
                           [] { model::runSequence(model::Planted::PutBackLost); }));
}
