#include "ops/keyboardaction.h"

#include "common/msgstr.h"
#include "emulator/virtualzr7316.h"
#include "midi/mididevices.h"
#include "ops/portlock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <stdexcept>

namespace kbxops {

namespace {

// Where locks of this user's session go: the runtime folder where the desktop gives one (it is
// emptied at logout, so a lock never outlives its session), else the temporary folder.
QString lockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable())
        return runtime;
    return QDir::tempPath();
}

[[noreturn]] void inUse(const PortLock& lock) {
    const QString program = lock.holderName().isEmpty() ? QStringLiteral("?") : lock.holderName();
    throw std::runtime_error(localText("The keyboard is in use by another program (%1, process "
                                       "%2).",
                                       "キーボードは別のプログラム (%1、プロセス %2) が使用中"
                                       "です。")
                                 .arg(program)
                                 .arg(lock.holderPid())
                                 .toStdString());
}

} // namespace

DeviceChoice chooseDevices(const DeviceChoice& stored, std::optional<int> input,
                           std::optional<int> output) {
    DeviceChoice open = stored;
    if (input) {
        open.devices.input = *input;
        open.inputName.clear();
    }
    if (output) {
        open.devices.output = *output;
        open.outputName.clear();
    }
    const Resolution resolved = resolveDevices(open);
    if (resolved.moved && (!input || !output)) {
        DeviceChoice moved = stored;
        if (!input)
            moved.devices.input = resolved.choice.devices.input;
        if (!output)
            moved.devices.output = resolved.choice.devices.output;
        try {
            storeDeviceChoice(moved);
        } catch (const std::exception&) {
            // Found all the same; the next action finds them again by name.
        }
    }
    return resolved.choice;
}

QString KeyboardAction::lockPath(const kbxmidi::PortIdentity& identity) {
    QByteArray key;
    if (identity.source == "system") {
        key = QByteArrayLiteral("system\n") + QByteArray::fromStdString(identity.name);
    } else if (identity.source == "virtual") {
        // Each process has a built-in keyboard of its own; what they share is its state file.
        const QString state = kbxmidi::DeviceRegistry::instance().virtualKeyboard().stateFile();
        if (state.isEmpty())
            return {};
        key = QByteArrayLiteral("virtual\n") + QFileInfo(state).absoluteFilePath().toUtf8();
    } else {
        return {};
    }
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    return QDir(lockFolder())
        .filePath(QStringLiteral("kbxman-port-%1.lock").arg(QString::fromLatin1(hash.left(24))));
}

KeyboardAction::KeyboardAction(const DeviceChoice& choice)
    : m_choice(choice) {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const auto bind = [](auto&& identityOf, int number) {
        try {
            return kbxmidi::DeviceRef::bound(identityOf(number), number);
        } catch (const std::runtime_error& error) {
            throw std::runtime_error(std::string("MIDI SYSTEM ERROR: ") + error.what());
        }
    };
    m_ports.input = bind([&](int n) { return registry.inputIdentity(n); }, choice.devices.input);
    m_ports.output = bind([&](int n) { return registry.outputIdentity(n); }, choice.devices.output);
    m_choice.inputName = QString::fromStdString(m_ports.input.identity().name);
    m_choice.outputName = QString::fromStdString(m_ports.output.identity().name);

    // Both sides, in one order for every process, so that two programs never wait on each other.
    std::vector<QString> paths{lockPath(m_ports.input.identity()),
                               lockPath(m_ports.output.identity())};
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        auto lock = std::make_unique<PortLock>(path);
        switch (lock->tryLock(kLockWaitMs)) {
        case PortLock::Result::Locked:
            break;
        case PortLock::Result::Busy:
            inUse(*lock);
        case PortLock::Result::Failed:
            throw std::runtime_error(localText("The keyboard's lock \"%1\" cannot be taken: %2",
                                               "キーボードのロック「%1」を取得できません: %2")
                                         .arg(QDir::toNativeSeparators(path), lock->errorString())
                                         .toStdString());
        }
        m_locks.push_back(std::move(lock));
    }
}

KeyboardAction::~KeyboardAction() = default;

} // namespace kbxops
