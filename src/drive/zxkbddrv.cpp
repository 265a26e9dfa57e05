#include "zxkbddrv.h"

#include "data/zxlayout.h"

#include "mididevices.h"
#include "virtualzr7316.h"
#include "wholefile.h"
#include "zxcancel.h"
#include "zxkbd.h"

#include <QCoreApplication>
#include <algorithm>
#include <functional>
#include <optional>
#include <type_traits>

namespace {

constexpr std::int32_t kKnownModelType = 0;
constexpr int kKnownModelProgressTotal = 143;

std::unique_ptr<ZxKbdDrv>& instanceHolder() {
    static std::unique_ptr<ZxKbdDrv> holder;
    return holder;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string digitName(const char* prefix, int number) {
    return std::string(prefix) + static_cast<char>('0' + number);
}

std::unique_ptr<ZxData> makeSlot(std::uint16_t kind, int number, const char* prefix, int bank = 0) {
    auto slot = std::make_unique<ZxData>(kind);
    slot->setName(digitName(prefix, number));
    slot->setNumber(number);
    slot->setBank(bank);
    slot->setModelCode(kModelCode);
    slot->setSize(0);
    slot->setAbsent();
    return slot;
}

std::unique_ptr<ZxDataDrive> makeFolder(std::uint16_t kind, const std::string& name,
                                        std::int32_t capacity, std::int32_t freeSpace) {
    auto folder = std::make_unique<ZxDataDrive>(kind);
    folder->setName(name);
    folder->setCapacity(capacity);
    folder->setFreeSpace(freeSpace);
    return folder;
}

std::unique_ptr<ZxDataDirectory> makeSubfolder(std::uint16_t kind, const std::string& name) {
    auto folder = std::make_unique<ZxDataDirectory>(kind);
    folder->setName(name);
    return folder;
}

} // namespace

ZxKbdDrv& ZxKbdDrv::instance(const std::string& model) {
    auto& holder = instanceHolder();
    if (!holder) {
        holder = std::make_unique<ZxKbdDrv>(model);
        // Release the ports and their timer while Qt still runs, not in static destruction.
        static bool cleanupRegistered = false;
        if (!cleanupRegistered && QCoreApplication::instance()) {
            qAddPostRoutine(&ZxKbdDrv::destroyInstance);
            cleanupRegistered = true;
        }
    }
    return *holder;
}

void ZxKbdDrv::destroyInstance() {
    instanceHolder().reset();
}

ZxKbdDrv::ZxKbdDrv(const std::string& model)
    : m_link(std::make_unique<ZxKbd>()) {
    if (model == kKnownModel) {
        m_hasLayout = true;
        m_expectedType = kKnownModelType;
        m_progressTotal = kKnownModelProgressTotal;
    }
    buildLayout(model);
}

ZxKbdDrv::~ZxKbdDrv() = default;

void ZxKbdDrv::attach(ZxKbdDrvObserver* observer) {
    m_observers.push_back(observer);
    std::sort(m_observers.begin(), m_observers.end(), std::less<ZxKbdDrvObserver*>());
    m_observers.erase(std::unique(m_observers.begin(), m_observers.end()), m_observers.end());
}

void ZxKbdDrv::buildLayout(const std::string& rootName) {
    m_root.reset();
    m_root = std::make_unique<ZxDataDrive>(ZxKind::DriveRoot);
    m_root->setName(rootName);
    m_folderNames.clear();
    m_current = m_root.get();
    m_nextIndex = 0;
    m_mask = 0;
    m_savedFolders.clear();
    m_savedIndexes.clear();
    m_savedMasks.clear();
    if (!m_hasLayout)
        return;

    std::vector<ZxDataDrive*> folders;
    for (const ZxFolderLayout& f : ZxLayout::folderTable()) {
        auto folder = makeFolder(f.kind, f.name, f.capacity, f.freeSpace);
        folders.push_back(folder.get());
        m_folderNames.push_back(folder->name());
        m_root->addChild(std::move(folder));
    }
    // Subfolders in the order their first slot comes.
    for (const ZxSlotLayout& s : ZxLayout::slotTable()) {
        ZxDataDrive* parent = folders[static_cast<std::size_t>(s.folder)];
        if (s.subfolder) {
            ZxDataDrive* sub = nullptr;
            for (int i = 0; i < parent->childCount(); ++i)
                if (parent->child(i)->name() == s.subfolder)
                    sub = static_cast<ZxDataDrive*>(parent->child(i));
            if (!sub) {
                auto made = makeSubfolder(s.kind, s.subfolder);
                sub = made.get();
                parent->addChild(std::move(made));
            }
            parent = sub;
        }
        parent->addChild(makeSlot(s.kind, s.number, s.prefix, s.bank));
    }
}

void ZxKbdDrv::reset() {
    // Every node is replaced, so an open search would point into the old tree: the search state
    // starts over in any case.
    const std::string rootName = m_root->name();
    buildLayout(rootName);
    m_listed = false;
}

ZxDataDrive* ZxKbdDrv::folderByName(const std::string& name) const {
    for (std::size_t i = 0; i < m_folderNames.size(); ++i) {
        if (m_folderNames[i] == name)
            return static_cast<ZxDataDrive*>(m_root->child(static_cast<int>(i)));
    }
    return nullptr;
}

template <class F>
auto ZxKbdDrv::withLink(F&& body) -> decltype(body()) {
    // Every failure leaves the devices released, so the next operation can open them again.
    try {
        m_link->open(m_inputDevice, m_outputDevice);
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            m_link->close();
        } else {
            auto result = body();
            m_link->close();
            return result;
        }
    } catch (...) {
        try {
            m_link->close();
        } catch (...) {
            // The failure that ended the operation is the one reported.
        }
        throw;
    }
}

void ZxKbdDrv::readList(const kbxmidi::DeviceRef& inputDevice,
                        const kbxmidi::DeviceRef& outputDevice) {
    // A model without a layout has nothing to list and no keyboard type to check against.
    if (!m_hasLayout)
        throw ZxKbdDrvException(ZxKbdDrvException::UnknownKeyboard);
    m_inputDevice = inputDevice;
    m_outputDevice = outputDevice;
    withLink([this] {
        if (static_cast<std::int32_t>(m_link->readKeyboardType()) != m_expectedType)
            throw ZxKbdDrvException(ZxKbdDrvException::UnknownKeyboard);
        for (std::size_t i = 0; i < m_folderNames.size(); ++i) {
            ZxDataDrive* folder = folderByName(m_folderNames[i]);
            if (folder && folder->kind() == ZxKind::Song)
                folder->setFreeSpace(static_cast<std::int32_t>(m_link->readFreeMemory()));
            listFolder(*static_cast<ZxDataDrive*>(m_root->child(static_cast<int>(i))));
        }
    });
    m_listed = true;
}

void ZxKbdDrv::listFolder(ZxDataDrive& folder) {
    m_step = 0;
    for (int i = 0; i < folder.childCount(); ++i) {
        ZxData& child = *folder.child(i);
        if (child.attributes() & ZxAttr::Directory) {
            listFolder(static_cast<ZxDataDrive&>(child));
            if (child.kind() == ZxKind::Song || child.kind() == ZxKind::Rhythm)
                child.setSize(m_link->readFreeMemory());
            child.setPresent();
        } else if (child.attributes() & (ZxAttr::Node | ZxAttr::File)) {
            listSlot(child);
        }
        notifyAll();
        ++m_step;
    }
}

void ZxKbdDrv::listSlot(ZxData& slot) {
    const int n = slot.number();
    auto setFixed = [&slot](int size, const std::function<std::string()>& name) {
        if (size == 0)
            return;
        slot.setPresent();
        slot.setSize(static_cast<std::uint32_t>(size));
        slot.setName(name());
    };
    auto setSized = [&slot, n](std::uint32_t size, const char* emptyPrefix,
                               const std::function<std::string()>& name) {
        slot.setSize(size);
        if (size != 0) {
            slot.setPresent();
            slot.setName(name());
        } else {
            slot.setAbsent();
            slot.setName(digitName(emptyPrefix, n));
        }
    };
    switch (slot.kind()) {
    case ZxKind::Tone:
        setFixed(m_link->toneSize(), [&] { return m_link->readToneName(n); });
        break;
    case ZxKind::Dsp:
        setFixed(m_link->dspSize(), [&] { return m_link->readDspName(n); });
        break;
    case ZxKind::Registration:
        setFixed(m_link->registrationSize(), [&] { return m_link->presetName(slot.bank(), n); });
        break;
    case ZxKind::Song:
        setSized(m_link->readSongSize(n), "Song ", [&] { return m_link->readSongName(n); });
        break;
    case ZxKind::Rhythm:
        setSized(m_link->readRhythmSize(n), "User ", [&] { return m_link->readRhythmName(n); });
        break;
    default:
        break;
    }
}

void ZxKbdDrv::notifyAll() {
    for (ZxKbdDrvObserver* observer : m_observers)
        observer->update(*this);
}

void ZxKbdDrv::deleteItem(ZxData& slot) {
    const char* emptyPrefix = nullptr;
    if (slot.kind() == ZxKind::Song)
        emptyPrefix = "Song ";
    else if (slot.kind() == ZxKind::Rhythm)
        emptyPrefix = "User ";
    else
        throw ZxKbdDrvException(
            ZxKbdDrvException::UnknownKeyboard); // tones, DSP settings and registrations cannot be
                                                 // deleted

    const std::string name = slot.name();
    const auto size = slot.size();
    withLink([&] {
        if (slot.kind() == ZxKind::Song)
            m_link->deleteSong(slot.number());
        else
            m_link->deleteRhythm(slot.number());
        // The request has left: the keyboard no longer holds the item, whatever the free-memory
        // request after it reports.
        slot.setName(digitName(emptyPrefix, slot.number()));
        slot.setSize(0);
        slot.setAbsent();
        // The delete has happened; a cancel must not report it as not done.
        const ZxCancellation::Hold hold;
        if (!m_folderNames.empty()) {
            ZxDataDrive* folder = folderByName(m_folderNames.back());
            if (folder && folder->kind() == ZxKind::Song)
                folder->setFreeSpace(static_cast<std::int32_t>(m_link->readFreeMemory()));
        }
    });
    // The built-in keyboard of this process has answered after the delete, but may have failed
    // to keep it in its state file; it then still holds the item, and the delete is not done.
    if (std::optional<kbxio::FileError> failure =
            kbxmidi::DeviceRegistry::instance().virtualKeyboard().takeSaveFailure()) {
        slot.setName(name);
        slot.setSize(size);
        slot.setPresent();
        throw *failure;
    }
}

std::uint32_t ZxKbdDrv::freeSongMemory() {
    return withLink([this] { return m_link->readFreeMemory(); });
}

void ZxKbdDrv::refreshFreeSpace(const std::string& folderName) {
    ZxDataDrive* folder = folderByName(folderName);
    if (!folder || folder->kind() != ZxKind::Song)
        return;
    withLink([&] { folder->setFreeSpace(static_cast<std::int32_t>(m_link->readFreeMemory())); });
}

ZxDataDrive* ZxKbdDrv::resolve(const std::string& path, ZxDataDrive& node) const {
    const std::string name = node.name();
    if (!startsWith(path, name))
        return nullptr;
    // The name and the separator after it; a path that is exactly the name has none.
    const std::string rest =
        path.size() == name.size() ? std::string() : path.substr(name.size() + 1);
    if (rest.empty())
        return &node;
    for (int i = 0; i < node.childCount(); ++i) {
        ZxData& child = *node.child(i);
        const std::string childName = child.name();
        if (rest.size() < childName.size() || !(child.attributes() & ZxAttr::Directory))
            continue;
        if (startsWith(rest, childName))
            return resolve(rest, static_cast<ZxDataDrive&>(child));
    }
    return &node; // the deepest folder that matched
}

ZxDataDrive* ZxKbdDrv::findFolder(const std::string& path) const {
    for (std::size_t i = 0; i < m_folderNames.size(); ++i) {
        const std::string& name = m_folderNames[i];
        if (path.size() < name.size())
            continue;
        if (startsWith(path, name))
            return resolve(path, *static_cast<ZxDataDrive*>(m_root->child(static_cast<int>(i))));
    }
    return nullptr;
}

ZxData* ZxKbdDrv::advance() {
    while (m_nextIndex < static_cast<std::uint32_t>(m_current->childCount())) {
        ZxData* child = m_current->child(static_cast<int>(m_nextIndex));
        if (child->attributes() & m_mask)
            return child;
        ++m_nextIndex;
    }
    return nullptr;
}

bool ZxKbdDrv::findFirst(const std::string& path, std::uint8_t mask, ZxData*& entry) {
    ZxDataDrive* folder = findFolder(path);
    if (!folder) {
        entry = nullptr;
        return false;
    }
    m_savedFolders.push_back(m_current);
    m_savedIndexes.push_back(m_nextIndex);
    m_savedMasks.push_back(m_mask);
    m_current = folder;
    m_nextIndex = 0;
    m_mask = mask;
    entry = advance();
    if (entry)
        return true;
    // No search stays open after a false answer.
    findClose();
    return false;
}

bool ZxKbdDrv::findNext(ZxData*& entry) {
    ++m_nextIndex;
    entry = advance();
    return entry != nullptr;
}

void ZxKbdDrv::findClose() {
    if (m_savedFolders.empty())
        return; // no search open: nothing to restore
    m_current = m_savedFolders.back();
    m_nextIndex = m_savedIndexes.back();
    m_mask = m_savedMasks.back();
    m_savedFolders.pop_back();
    m_savedIndexes.pop_back();
    m_savedMasks.pop_back();
}

bool ZxKbdDrv::hasSubfolders(const std::string& path) {
    ZxDataDrive* folder = findFolder(path);
    return folder && folder->containsDirectory();
}
