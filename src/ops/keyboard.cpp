#include "keyboard.h"

#include "datafile.h"
#include "kbxfile.h"
#include "kbxmidistream.h"
#include "kbxnames.h"
#include "msgstr.h"
#include "settings.h"
#include "trace.h"
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

Keyboard::Keyboard(ZxKbdDrv& drive, Devices devices, Progress* progress)
    : m_drive(drive)
    , m_devices(devices)
    , m_progress(progress) {
    m_drive.attach(&driveRelay());
}

void Keyboard::list() {
    traced([this] {
        StepScope scope(m_progress,
                        Step{Step::List, static_cast<std::uint32_t>(m_drive.progressTotal())});
        driveRelay().start(m_progress);
        try {
            m_drive.readList(m_devices.input, m_devices.output);
        } catch (...) {
            driveRelay().stop();
            throw;
        }
        driveRelay().stop();
    });
}

ImportedFile Keyboard::importSlot(ZxData& slot, const QString& folder, TakenNames* taken, int index,
                                  int count) {
    return traced([&] { return importInto(slot, folder, taken, index, count); });
}

ImportedFile Keyboard::importInto(ZxData& slot, const QString& folder, TakenNames* taken, int index,
                                  int count) {
    requireWritableFolder(folder);
    ZxDataFile item(ZxKind::Undetermined);
    {
        KbxMidiStream stream(slot, m_devices.input, m_devices.output);
        item.setSize(stream.size());
        StepScope scope(m_progress, Step{Step::Import, item.size(), index, count});
        StreamRelay relay(m_progress);
        stream.attach(&relay);
        stream.read(item);
    }

    QString fileName = kbxnames::importFileName(item.kind(), item.name());
    if (taken)
        fileName = taken->claim(fileName);
    const QString path = QDir(folder).filePath(fileName);
    ImportedFile imported{QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()),
                          fileName,
                          item.kind(),
                          item.size(),
                          item.name(),
                          {}};
    imported.trashed = moveAsideIfDifferent(path, kbxfile::serialize(item));
    writeDataFile(path, item);
    return imported;
}

void Keyboard::send(ZxDataFile& item, ZxData& slot, int index, int count) {
    traced([&] {
        StepScope scope(m_progress, Step{Step::Send, item.size(), index, count});
        StreamRelay relay(m_progress);
        KbxMidiStream stream(slot, m_devices.input, m_devices.output);
        stream.attach(&relay);
        stream.write(item);
    });
}

std::unique_ptr<ZxDataFile> Keyboard::sendFile(const QString& path, ZxData& slot) {
    std::unique_ptr<ZxDataFile> item = readDataFile(path);
    send(*item, slot);
    return item;
}

void Keyboard::remove(ZxData& slot) {
    traced([&] {
        StepScope scope(m_progress, Step{Step::Delete, 0});
        m_drive.deleteItem(slot);
    });
}

} // namespace kbxops
