#pragma once
// The keyboard as a drive: a fixed layout of folders and slots for the known model, filled from
// what the keyboard reports; deleting songs and rhythms; free song memory; browsing by path with
// nestable searches. Every operation that talks to the keyboard opens the link and closes it
// again before it returns, also when it fails.

#include "midi/mididevices.h"
#include "zxdata.h"
#include "zxexception.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZxKbd;
class ZxKbdDrv;

class ZxKbdDrvObserver {
public:
    virtual ~ZxKbdDrvObserver() = default;
    virtual void update(ZxKbdDrv& drive) = 0;
};

class ZxKbdDrv {
public:
    static constexpr const char* kKnownModel = "ZR-7316";

    // The process-wide drive; the first call creates it with the model text.
    static ZxKbdDrv& instance(const std::string& model);
    // Tests only: forget the process-wide drive so the next instance() builds a fresh one.
    static void destroyInstance();

    explicit ZxKbdDrv(const std::string& model);
    ~ZxKbdDrv();
    ZxKbdDrv(const ZxKbdDrv&) = delete;
    ZxKbdDrv& operator=(const ZxKbdDrv&) = delete;

    void attach(ZxKbdDrvObserver* observer); // sorted by identity, no duplicates, no detach

    void readList(const kbxmidi::DeviceRef& inputDevice, const kbxmidi::DeviceRef& outputDevice);
    int progressTotal() const { return m_progressTotal; }
    std::uint32_t progressStep() const { return m_step; }
    bool isListed() const { return m_listed; }
    void reset();

    int folderCount() const { return static_cast<int>(m_folderNames.size()); }
    std::string folderName(int i) const { return m_folderNames[static_cast<std::size_t>(i)]; }
    ZxDataDrive* folderByName(const std::string& name) const;
    ZxDataDrive& root() { return *m_root; }

    void deleteItem(ZxData& slot);
    std::uint32_t freeSongMemory();
    void refreshFreeSpace(const std::string& folderName);

    bool findFirst(const std::string& path, std::uint8_t mask, ZxData*& entry);
    bool findNext(ZxData*& entry);
    void findClose();
    bool hasSubfolders(const std::string& path);

    const kbxmidi::DeviceRef& inputDevice() const { return m_inputDevice; }
    const kbxmidi::DeviceRef& outputDevice() const { return m_outputDevice; }
    ZxKbd& link() { return *m_link; }

private:
    void buildLayout(const std::string& rootName);
    void listFolder(ZxDataDrive& folder);
    void listSlot(ZxData& slot);
    void notifyAll();
    ZxDataDrive* findFolder(const std::string& path) const;
    ZxDataDrive* resolve(const std::string& path, ZxDataDrive& node) const;
    ZxData* advance();
    template <class F>
    auto withLink(F&& body) -> decltype(body());

    std::vector<ZxKbdDrvObserver*> m_observers;
    std::unique_ptr<ZxKbd> m_link;
    kbxmidi::DeviceRef m_inputDevice;
    kbxmidi::DeviceRef m_outputDevice;
    std::uint32_t m_step = 0;
    int m_progressTotal = 0;
    int m_expectedType = -1;
    bool m_hasLayout = false;
    bool m_listed = false;
    std::vector<std::string> m_folderNames;
    std::unique_ptr<ZxDataDrive> m_root;

    ZxDataDrive* m_current = nullptr;
    std::uint32_t m_nextIndex = 0;
    std::uint8_t m_mask = 0;
    std::vector<ZxDataDrive*> m_savedFolders;
    std::vector<std::uint32_t> m_savedIndexes;
    std::vector<std::uint8_t> m_savedMasks;
};
