#include "keyboard.h"

#include "datafile.h"
#include "kbxfile.h"
#include "kbxmidistream.h"
#include "kbxnames.h"
#include "mididevices.h"
#include "msgstr.h"
#include "settings.h"
#include "slotref.h"
#include "trace.h"
#include "wholefile.h"
#include "zxcancel.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <stdexcept>

namespace kbxops {

namespace {

// The drive keeps its observers for life and has no detach, so one relay of the process stands
// attached to every drive and forwards to whichever action is listing now.
class DriveRelay : public ZxKbdDrvObserver {
public:
    void update(ZxKbdDrv& drive) override {
        m_done += drive.progressStep();
        if (m_progress)
            m_progress->advanceTo(m_done);
    }
    void start(Progress* progress) {
        m_progress = progress;
        m_done = 0;
    }
    void stop() { m_progress = nullptr; }

private:
    Progress* m_progress = nullptr;
    std::uint32_t m_done = 0;
};

DriveRelay& driveRelay() {
    static DriveRelay relay;
    return relay;
}

class StreamRelay : public KbxStreamObserver {
public:
    explicit StreamRelay(Progress* progress)
        : m_progress(progress) {}
    void update(KbxStream& stream) override {
        if (m_progress)
            m_progress->advanceTo(stream.position());
    }

private:
    Progress* m_progress;
};

// begin() on construction, end() when the step is left, also by an exception.
class StepScope {
public:
    StepScope(Progress* progress, const Step& step)
        : m_progress(progress) {
        if (m_progress)
            m_progress->begin(step);
    }
    ~StepScope() {
        if (m_progress)
            m_progress->end();
    }
    StepScope(const StepScope&) = delete;
    StepScope& operator=(const StepScope&) = delete;

private:
    Progress* m_progress;
};

// Asked of the folder itself before the keyboard is asked anything: a transfer that cannot be
// written would take its whole time for nothing.
void requireWritableFolder(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kbxman-XXXXXX")));
    if (!QFileInfo(folder).isDir() || !probe.open())
        throw std::runtime_error(
            localText("The folder \"%1\" cannot be written to.", "フォルダ「%1」に書き込めません。")
                .arg(QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath()))
                .toStdString());
}

// Tones, DSP settings and registrations always hold an item; a song or rhythm slot when the
// list found one.
bool holdsItem(const ZxData& slot) {
    return slot.isPresent() || !ZxKind::isDeletable(slot.kind());
}

// The payloads' first size() bytes, the item as the keyboard stores it.
bool samePayload(const ZxDataFile& a, const ZxDataFile& b) {
    if (a.size() != b.size())
        return false;
    const auto byteAt = [](const ZxDataFile& item, std::uint32_t i) {
        const std::size_t w = i / 2;
        const std::uint16_t word = w < item.payload().size() ? item.payload()[w] : 0;
        return static_cast<std::uint8_t>(i % 2 == 0 ? word >> 8 : word & 0xFF);
    };
    for (std::uint32_t i = 0; i < a.size(); ++i)
        if (byteAt(a, i) != byteAt(b, i))
            return false;
    return true;
}

// The device's name for the history: a bound port's own, else what its number lists now.
QString portName(const kbxmidi::DeviceRef& port, bool input) {
    if (port.isBound())
        return QString::fromStdString(port.displayName());
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const std::vector<std::string> names = input ? registry.inputNames() : registry.outputNames();
    const int number = port.number();
    return number >= 0 && static_cast<std::size_t>(number) < names.size()
               ? QString::fromStdString(names[static_cast<std::size_t>(number)])
               : QString();
}

// After the change itself: a row that cannot be settled stays pending and still names the item
// it keeps, so the change is not reported as failed for it.
void settle(History* history, qint64 id, History::Outcome outcome = History::Outcome::Done) {
    if (!history || !id)
        return;
    try {
        history->finish(id, outcome);
    } catch (...) {
    }
}

const char* const kNothingChangedEn =
    "The item in the slot could not be kept in the history, so nothing has been changed.";
const char* const kNothingChangedJa =
    "スロットのデータを履歴に保存できなかったため、何も変更していません。";

} // namespace

QString moveAsideIfDifferent(const QString& path, const std::vector<std::uint8_t>& bytes) {
    // Only a file is ours to move; anything else in the way makes the write fail as it is.
    if (!QFileInfo(path).isFile())
        return {};
    QFile old(path);
    if (old.open(QIODevice::ReadOnly) && old.size() == static_cast<qint64>(bytes.size())) {
        const QByteArray content = old.readAll();
        if (std::equal(content.begin(), content.end(), bytes.begin(),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            return {}; // the same item again: nothing is lost by writing it over itself
    }
    old.close();
    QString trashed;
    if (!QFile::moveToTrash(path, &trashed))
        throw std::runtime_error(
            localText("\"%1\" holds another item and cannot be moved to the trash; nothing was "
                      "replaced.",
                      "「%1」には別のデータがあり、ごみ箱に移せないため、置き換えませんでした。")
                .arg(QDir::toNativeSeparators(path))
                .toStdString());
    return QFileInfo(trashed.isEmpty() ? path : trashed).absoluteFilePath();
}

Devices storedDevices() {
    Devices devices;
    QString dir;
    try {
        KbxSettings().load(devices.input, devices.output, dir);
    } catch (const std::exception& error) {
        throw std::runtime_error(
            localText("kbxman's settings cannot be read: %1", "kbxman の設定を読み込めません: %1")
                .arg(QString::fromUtf8(error.what()))
                .toStdString());
    }
    return devices;
}

QString TakenNames::claim(const QString& fileName) {
    QString name = fileName;
    const QString base = fileName.endsWith(QStringLiteral(".kbx")) ? fileName.chopped(4) : fileName;
    for (int n = 2; m_taken.count(name.toLower()); ++n)
        name = base + QStringLiteral(" (%1).kbx").arg(n);
    m_taken.insert(name.toLower());
    return name;
}

namespace {

// Whether the failure is an E, also under a note of what was done about it.
template <class E>
bool failureIs(std::exception_ptr failure) {
    if (!failure)
        return false;
    try {
        std::rethrow_exception(failure);
    } catch (const E&) {
        return true;
    } catch (const NotedException& noted) {
        return failureIs<E>(noted.original());
    } catch (...) {
        return false;
    }
}

} // namespace

bool isDeviceLost(std::exception_ptr failure) {
    return failureIs<kbxmidi::DeviceLost>(failure);
}

bool isCancel(std::exception_ptr failure) {
    return failureIs<ZxCancelledException>(failure);
}

Keyboard::Keyboard(ZxKbdDrv& drive, Ports ports, Progress* progress, const Safety& safety)
    : m_drive(drive)
    , m_ports(std::move(ports))
    , m_progress(progress)
    , m_safety(safety) {
    m_drive.attach(&driveRelay());
}

void Keyboard::list() {
    traced([this] {
        StepScope scope(m_progress,
                        Step{Step::List, static_cast<std::uint32_t>(m_drive.progressTotal())});
        driveRelay().start(m_progress);
        try {
            m_drive.readList(m_ports.input, m_ports.output);
        } catch (...) {
            driveRelay().stop();
            throw;
        }
        driveRelay().stop();
    });
}

ZxData* Keyboard::listedSlot(const SlotAddress& address) {
    if (!m_drive.isListed())
        list();
    const std::vector<SlotEntry> slotList = slotsOf(m_drive.root());
    const SlotEntry* slot = findSlot(slotList, address);
    return slot ? slot->node : nullptr;
}

namespace {

// A keyboard-side text for a message line: control characters become "_".
QString printableText(const std::string& bytes) {
    QString text = kbxnames::keyboardText(bytes);
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    return text;
}

ZxData& requireSlot(ZxData* node, const SlotAddress& address) {
    if (!node)
        throw std::runtime_error(
            localText("The ZR-7316 has no slot %1.", "ZR-7316 にスロット %1 はありません。")
                .arg(shortForm(address))
                .toStdString());
    return *node;
}

} // namespace

SlotState stateOf(const SlotEntry& entry) {
    return SlotState{addressOf(*entry.node), entry.path, entry.node->name(), entry.node->size(),
                     entry.node->isPresent()};
}

SlotState Keyboard::slotState(const SlotAddress& address) {
    requireSlot(listedSlot(address), address);
    const std::vector<SlotEntry> slotList = slotsOf(m_drive.root());
    return stateOf(*findSlot(slotList, address));
}

ImportedFile Keyboard::importSlot(const SlotAddress& address, const QString& folder) {
    ZxData& slot = requireSlot(listedSlot(address), address);
    if (!slot.isPresent())
        throw std::runtime_error(
            localText("%1 (%2) is empty: there is nothing to import.",
                      "%1 (%2) は空です。受信するデータがありません。")
                .arg(printableText(slotState(address).path), shortForm(address))
                .toStdString());
    return importSlot(slot, folder);
}

SendResult Keyboard::sendFile(const QString& path, const SlotAddress& address) {
    const std::unique_ptr<ZxDataFile> item = readDataFile(path);
    ZxData& slot = requireSlot(listedSlot(address), address);
    const qint64 entry = send(*item, slot, Change{Operation::Send});
    return SendResult{slotState(address), entry};
}

DeleteResult Keyboard::remove(const SlotAddress& address) {
    ZxData& slot = requireSlot(listedSlot(address), address);
    if (!ZxKind::isDeletable(slot.kind()))
        throw KbxStreamException(KbxStreamException::KindMismatch);
    DeleteResult result;
    result.deleted = slot.isPresent();
    if (result.deleted)
        result.entry = remove(slot, Change{Operation::Delete});
    result.slot = slotState(address);
    return result;
}

std::unique_ptr<ZxDataFile> Keyboard::readSlot(ZxData& slot, int index, int count) {
    auto item = std::make_unique<ZxDataFile>(ZxKind::Undetermined);
    KbxMidiStream stream(slot, m_ports.input, m_ports.output);
    item->setSize(stream.size());
    StepScope scope(m_progress, Step{Step::Import, item->size(), index, count});
    StreamRelay relay(m_progress);
    stream.attach(&relay);
    stream.read(*item);
    return item;
}

ImportedFile Keyboard::importSlot(ZxData& slot, const QString& folder, TakenNames* taken, int index,
                                  int count) {
    return traced([&] { return importInto(slot, folder, taken, index, count); });
}

ImportedFile Keyboard::importInto(ZxData& slot, const QString& folder, TakenNames* taken, int index,
                                  int count) {
    requireWritableFolder(folder);
    const std::unique_ptr<ZxDataFile> item = readSlot(slot, index, count);
    QString fileName = kbxnames::importFileName(item->kind(), item->name());
    if (taken)
        fileName = taken->claim(fileName);
    const QString path = QDir(folder).filePath(fileName);
    ImportedFile imported{QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()),
                          fileName,
                          item->kind(),
                          item->size(),
                          item->name(),
                          {}};
    imported.trashed = moveAsideIfDifferent(path, kbxfile::serialize(*item));
    writeDataFile(path, *item);
    return imported;
}

Safety safetyFromPreferences(const KbxSettings::Safety& preferences, History* history) {
    Safety safety;
    safety.history = history;
    safety.keepCopies = preferences.keepHistory;
    safety.verifySend = preferences.verifySend;
    safety.verifyRestore = preferences.verifyRestore;
    return safety;
}

bool Keyboard::verifies(Operation operation) const {
    switch (operation) {
    case Operation::Send:
        return m_safety.verifySend;
    case Operation::Restore:
    case Operation::Undo:
        return m_safety.verifyRestore;
    case Operation::Delete:
        break;
    }
    return false;
}

PendingChange Keyboard::prepare(ZxData& slot, const Change& change, const ZxDataFile* after) {
    PendingChange pending;
    History* history = m_safety.history;
    // Deleting what is not there changes nothing worth a row.
    if (!history || (!after && !holdsItem(slot)))
        return pending;
    try {
        HistoryEntry entry;
        entry.operation = change.operation;
        entry.group = change.group;
        entry.slot = shortForm(addressOf(slot));
        entry.kind = slot.kind();
        if (holdsItem(slot) && !m_safety.keepCopies) {
            ItemRecord record;
            record.name = slot.name();
            record.size = slot.size();
            entry.before = record;
            entry.uncopied = true;
        } else if (holdsItem(slot)) {
            pending.before = readSlot(slot, change.index, change.count);
            pending.beforeRecord = history->keep(*pending.before);
            entry.before = pending.beforeRecord;
        }
        if (after)
            entry.after = History::describe(*after);
        entry.inputDevice = portName(m_ports.input, true);
        entry.outputDevice = portName(m_ports.output, false);
        pending.id = history->begin(entry, change.undoes);
    } catch (const ZxCancelledException&) {
        // The user stopped it before anything changed: that is all there is to say.
        throw;
    } catch (...) {
        throw NotedException(std::current_exception(), QString::fromUtf8(kNothingChangedEn),
                             QString::fromUtf8(kNothingChangedJa));
    }
    return pending;
}

void Keyboard::send(ZxDataFile& item, ZxData& slot, int index, int count) {
    send(item, slot, Change{Operation::Send, 0, index, count});
}

qint64 Keyboard::send(ZxDataFile& item, ZxData& slot, const Change& change) {
    return traced([&] { return sendChange(item, slot, change, nullptr); });
}

qint64 Keyboard::fill(ZxDataFile& item, ZxData& slot, const Change& change,
                      PendingChange& vacancy) {
    return traced([&] { return sendChange(item, slot, change, &vacancy); });
}

qint64 Keyboard::sendChange(ZxDataFile& item, ZxData& slot, const Change& change,
                            PendingChange* vacancy) {
    // Refused before the keyboard is asked anything, the snapshot included.
    if (item.kind() != slot.kind())
        throw KbxStreamException(KbxStreamException::KindMismatch);
    PendingChange own;
    if (!vacancy)
        own = prepare(slot, change, &item);
    PendingChange& pending = vacancy ? *vacancy : own;
    History* history = m_safety.history;

    std::unique_ptr<KbxMidiStream> stream;
    try {
        stream = std::make_unique<KbxMidiStream>(slot, m_ports.input, m_ports.output);
        StepScope scope(m_progress, Step{Step::Send, item.size(), change.index, change.count});
        StreamRelay relay(m_progress);
        stream->attach(&relay);
        stream->write(item);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        // A vacated slot was emptied before this send began.
        const bool emptied = vacancy || (stream && stream->deleteAsked());
        if (pending.id && stream && stream->committed()) {
            // The keyboard has the new item; only the refresh of the free space failed.
            settle(history, pending.id);
        } else if (pending.before && emptied) {
            putBack(failure, pending, slot, change);
        } else if (pending.id) {
            // Nothing in the keyboard has changed: the keyboard commits an item only on the
            // final handshake, and nothing was deleted.
            try {
                history->discard(pending.id);
            } catch (...) {
                // A row too many is harmless; the send's own failure is the one to report.
            }
        }
        throw;
    }

    try {
        if (verifies(change.operation)) {
            // The item is in; its check belongs to the send, so a cancel waits for it.
            const ZxCancellation::Hold hold;
            verify(item, slot, change);
        }
    } catch (...) {
        // The keyboard holds something else than was sent; the history keeps the old item.
        settle(history, pending.id, History::Outcome::Differs);
        throw;
    }
    settle(history, pending.id);
    return pending.id;
}

bool Keyboard::sendBack(PendingChange& pending, ZxData& slot, const Change& change) {
    // Leaving the keyboard whole must not be cut short by a cancel asked for meanwhile.
    const ZxCancellation::Hold hold;
    bool back = false;
    try {
        KbxMidiStream stream(slot, m_ports.input, m_ports.output);
        try {
            StepScope scope(m_progress,
                            Step{Step::Send, pending.before->size(), change.index, change.count});
            StreamRelay relay(m_progress);
            stream.attach(&relay);
            stream.write(*pending.before);
            back = true;
        } catch (...) {
            back = stream.committed();
        }
    } catch (...) {
        back = false;
    }
    if (!back)
        return false;
    try {
        m_safety.history->discard(pending.id);
    } catch (...) {
        // The row stays and describes a change that was put right; undoing it is harmless.
    }
    return true;
}

void Keyboard::putBack(std::exception_ptr failure, PendingChange& pending, ZxData& slot,
                       const Change& change) {
    if (!sendBack(pending, slot, change))
        notPutBack(failure, pending, slot);
    if (slot.kind() == ZxKind::Rhythm)
        throw NotedException(failure,
                             QStringLiteral("The rhythm that was in the slot has been put back."),
                             QString::fromUtf8("スロットにあったリズムを元に戻しました。"));
    throw NotedException(failure,
                         QStringLiteral("The song that was in the slot has been put back."),
                         QString::fromUtf8("スロットにあった曲を元に戻しました。"));
}

void Keyboard::notPutBack(std::exception_ptr failure, PendingChange& pending, const ZxData& slot) {
    // The entry stays, with the slot left empty and the item it kept: undo brings it back.
    settle(m_safety.history, pending.id, History::Outcome::SlotEmptied);
    if (slot.kind() == ZxKind::Rhythm)
        throw NotPutBackException(
            failure,
            QStringLiteral("The rhythm could not be put back. It is kept in the history (entry "
                           "%1): plug the keyboard in again and choose Edit > Undo, or run "
                           "`kbxtool undo`.")
                .arg(pending.id),
            QString::fromUtf8("リズムを元に戻せませんでした。履歴 (項目 %1) に保存されています: "
                              "キーボードをつなぎ直して [編集] > [元に戻す] を選ぶか、`kbxtool "
                              "undo` を実行してください。")
                .arg(pending.id));
    throw NotPutBackException(
        failure,
        QStringLiteral("The song could not be put back. It is kept in the history (entry %1): "
                       "plug the keyboard in again and choose Edit > Undo, or run `kbxtool "
                       "undo`.")
            .arg(pending.id),
        QString::fromUtf8("曲を元に戻せませんでした。履歴 (項目 %1) に保存されています: "
                          "キーボードをつなぎ直して [編集] > [元に戻す] を選ぶか、`kbxtool undo` "
                          "を実行してください。")
            .arg(pending.id));
}

PendingChange Keyboard::vacate(ZxData& slot, const ZxDataFile& item, const Change& change) {
    return traced([&] {
        if (item.kind() != slot.kind() || !ZxKind::isDeletable(slot.kind()))
            throw KbxStreamException(KbxStreamException::KindMismatch);
        PendingChange pending = prepare(slot, change, &item);
        if (slot.isPresent())
            deleteFor(slot, change, pending, true);
        return pending;
    });
}

void Keyboard::abandon(ZxData& slot, const Change& change, PendingChange& vacancy,
                       std::exception_ptr why) {
    traced([&] {
        if (!vacancy.before) {
            // Nothing was kept: the slot was empty before (its row says nothing happened), or
            // there is no history to bring anything back from.
            if (vacancy.id) {
                try {
                    m_safety.history->discard(vacancy.id);
                } catch (...) {
                }
            }
            return;
        }
        if (!sendBack(vacancy, slot, change))
            notPutBack(why, vacancy, slot);
    });
}

void Keyboard::verify(const ZxDataFile& sent, ZxData& slot, const Change& change) {
    const std::unique_ptr<ZxDataFile> back = readSlot(slot, change.index, change.count);
    if (!samePayload(sent, *back))
        throw KbxStreamException(KbxStreamException::VerifyMismatch);
}

std::unique_ptr<ZxDataFile> Keyboard::sendFile(const QString& path, ZxData& slot) {
    std::unique_ptr<ZxDataFile> item = readDataFile(path);
    send(*item, slot);
    return item;
}

void Keyboard::remove(ZxData& slot) {
    remove(slot, Change{Operation::Delete});
}

qint64 Keyboard::remove(ZxData& slot, const Change& change) {
    return traced([&] { return removeChange(slot, change); });
}

qint64 Keyboard::removeChange(ZxData& slot, const Change& change) {
    PendingChange pending = prepare(slot, change, nullptr);
    deleteFor(slot, change, pending, false);
    settle(m_safety.history, pending.id);
    return pending.id;
}

void Keyboard::deleteFor(ZxData& slot, const Change& change, PendingChange& pending,
                         bool vacating) {
    try {
        StepScope scope(m_progress, Step{Step::Delete, 0, change.index, change.count});
        m_drive.deleteItem(slot);
    } catch (const kbxio::FileError&) {
        // The built-in keyboard could not keep the delete: it still holds the item.
        if (pending.id) {
            try {
                m_safety.history->discard(pending.id);
            } catch (...) {
            }
        }
        throw;
    } catch (const ZxCancelledException&) {
        // A delete request that has left is done (the drive holds a cancel back after it), so a
        // cancel means it never left.
        if (pending.id) {
            try {
                m_safety.history->discard(pending.id);
            } catch (...) {
            }
        }
        throw;
    } catch (...) {
        if (!pending.id)
            throw;
        // The delete request goes out before the free-memory request that may have failed: the
        // item may be gone. The row stays (a vacated slot's as an emptying: what was to come
        // will not), and the user learns where the item is.
        const std::exception_ptr failure = std::current_exception();
        settle(m_safety.history, pending.id,
               vacating ? History::Outcome::SlotEmptied : History::Outcome::Done);
        if (!pending.beforeRecord)
            throw;
        const QString file = pending.beforeRecord->file;
        throw NotedException(
            failure,
            QStringLiteral("If the item in the slot is gone, the history keeps it as entry %1 in "
                           "\"%2\".")
                .arg(pending.id)
                .arg(file),
            QString::fromUtf8("スロットのデータが消えていても、履歴の項目 %1「%2」に保存されて"
                              "います。")
                .arg(pending.id)
                .arg(file));
    }
}

} // namespace kbxops
