#include "cli/kbxtool.h"

#include "ops/backup.h"
#include "ops/cancel.h"
#include "ops/connection.h"
#include "ops/datafile.h"
#include "ops/keyboard.h"
#include "ops/trace.h"

#include "cli/clitext.h"
#include "cli/deviceselect.h"
#include "cli/emulate.h"
#include "common/settings.h"
#include "drive/zxkbddrv.h"
#include "emulator/virtualzr7316.h"
#include "midi/mididevices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>

#ifndef KBX_VERSION
#define KBX_VERSION "unknown"
#endif

namespace kbxcli {

namespace {

// --trace: each line on stderr as it comes, for the whole command.
class StderrTrace : public kbxops::TraceListener {
public:
    StderrTrace() { kbxops::Trace::instance().setListener(this); }
    ~StderrTrace() override { kbxops::Trace::instance().setListener(nullptr); }
    StderrTrace(const StderrTrace&) = delete;
    StderrTrace& operator=(const StderrTrace&) = delete;

    void traced(const kbxops::TraceLine& line) override {
        std::fputs((line.text() + u'\n').toUtf8().constData(), stderr);
    }

private:
    // The clock runs from the command's start, whatever actions it runs.
    kbxops::Trace::Action m_command;
};

} // namespace

KbxTool::KbxTool(Options options)
    : m_options(std::move(options))
    // The trace's lines and a bar redrawn in place would break each other up.
    , m_bar(!m_options.json && !m_options.trace && ProgressBar::stderrIsTerminal())
    , m_progress(m_bar, m_messages) {}

KbxTool::~KbxTool() = default;

int KbxTool::run() {
    if (m_options.help) {
        print(helpText());
        return ExitOk;
    }
    if (m_options.version) {
        print(QStringLiteral("kbxtool %1\n").arg(QLatin1String(KBX_VERSION)));
        return ExitOk;
    }
    const Command* command = findCommand(m_options.command);
    // Interrupted while starting: nothing has begun.
    if (InterruptWatcher::caughtEarly())
        return ExitInterrupted;
    if (command && command->servesUntilInterrupted)
        return runCommand();
    // SIGINT and SIGTERM stop a keyboard action at its next message boundary, so that the ports
    // are closed and no file is left half-written.
    kbxops::Cancellation cancellation;
    const kbxops::CancelScope scope(cancellation);
    std::optional<InterruptWatcher> interrupts;
    try {
        interrupts.emplace([&cancellation] { cancellation.cancel(); });
        // One that came while the watcher was being set up.
        if (InterruptWatcher::caughtEarly())
            cancellation.cancel();
    } catch (const std::exception&) {
        // Without the watcher a signal ends the process at once, as it always could.
    }
    return runCommand();
}

int KbxTool::runCommand() {
    std::optional<StderrTrace> trace;
    if (m_options.trace)
        trace.emplace();
    try {
        const Command* command = findCommand(m_options.command);
        if (!command)
            throw UsageError{QStringLiteral("unknown command %1").arg(m_options.command)};
        (this->*command->run)();
        return m_interrupted ? ExitInterrupted : m_failed ? ExitFailed : ExitOk;
    } catch (const UsageError& error) {
        m_bar.finish();
        printError(QStringLiteral("kbxtool: ") + error.message);
        printError(usageLine());
        return ExitUsage;
    } catch (...) {
        m_bar.finish();
        const ErrorReport report = describeException(m_messages, std::current_exception());
        if (m_options.json) {
            QJsonObject document;
            document.insert(QStringLiteral("error"), errorObject(report));
            printJson(document);
        } else {
            printError(report.message.empty() ? QStringLiteral("Unknown error")
                                              : QString::fromStdString(report.message));
        }
        return kbxops::isCancel(std::current_exception()) ? ExitInterrupted : ExitFailed;
    }
}

// ---- devices and the keyboard ----------------------------------------------------------------

ZxKbdDrv& KbxTool::drive() {
    return ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
}

kbxops::Keyboard KbxTool::keyboard() {
    const kbxops::Ports ports =
        m_action ? m_action->ports() : kbxops::Ports(kbxops::Devices{m_input, m_output});
    return kbxops::Keyboard(drive(), ports, &m_progress, safety());
}

kbxops::History& KbxTool::history() {
    if (!m_history)
        m_history = std::make_unique<kbxops::History>();
    return *m_history;
}

kbxops::Safety KbxTool::safety() {
    kbxops::Safety safety = kbxops::safetyFromPreferences(KbxSettings().loadSafety(), &history());
    if (m_options.noHistory)
        safety.history = nullptr;
    safety.verifySend = safety.verifySend || m_options.verify;
    safety.verifyRestore = safety.verifyRestore || m_options.verify;
    return safety;
}

void KbxTool::useVirtualKeyboardState() {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    VirtualZr7316& keyboard = registry.virtualKeyboard();
    if (m_options.useVirtual) {
        registry.setSystemDevicesEnabled(false);
        keyboard.setStateFile(m_options.stateFile.isEmpty() ? VirtualZr7316::defaultStateFile()
                                                            : m_options.stateFile);
        // Tests of interruptions need an action that lasts: the keyboard at MIDI's own speed.
        if (qEnvironmentVariableIsSet("KBX_TEST") &&
            qEnvironmentVariableIntValue("KBX_TEST_WIRE_SPEED") == 1) {
            VirtualZr7316::Faults faults = keyboard.faults();
            faults.wireSpeed = true;
            keyboard.setFaults(faults);
        }
        return;
    }
    // The built-in keyboard is one of the devices; it remembers what it holds, as in kbxman.
    if (keyboard.stateFile().isEmpty())
        keyboard.setStateFile(VirtualZr7316::defaultStateFile());
}

void KbxTool::chooseDevices(bool bind) {
    if (m_action)
        return; // one action per run: every command's messages go to the devices it began with
    auto& registry = kbxmidi::DeviceRegistry::instance();
    useVirtualKeyboardState();
    std::optional<int> input;
    std::optional<int> output;
    if (m_options.useVirtual) {
        input = registry.virtualInputNumber();
        output = registry.virtualOutputNumber();
    } else {
        const auto pick = [](const QString& text, const std::vector<std::string>& names,
                             const char* option, const char* side) {
            const DeviceMatch match = matchDevice(text, names);
            if (match.number < 0)
                throw UsageError{QStringLiteral("%1: %2\nMIDI %3 devices:\n%4")
                                     .arg(QLatin1String(option), match.error, QLatin1String(side),
                                          deviceListing(names).chopped(1))};
            return match.number;
        };
        if (m_options.hasIn)
            input = pick(m_options.in, registry.inputNames(), "--in", "input");
        if (m_options.hasOut)
            output = pick(m_options.out, registry.outputNames(), "--out", "output");
    }
    // kbxman's choice, read with kbxman's checks, for what the options leave open: by name
    // where a name is stored, so that a number that has moved never opens another device.
    const kbxops::DeviceChoice stored =
        input && output ? kbxops::DeviceChoice{} : kbxops::storedDeviceChoice();
    const kbxops::DeviceChoice chosen = kbxops::chooseDevices(stored, input, output);
    m_input = chosen.devices.input;
    m_output = chosen.devices.output;
    if (bind)
        m_action = std::make_unique<kbxops::KeyboardAction>(chosen);
}

void KbxTool::readList() {
    keyboard().list();
}

void KbxTool::checkSlotText(const QString& text) {
    const ShortFormParse parsed = parseShortForm(text);
    if (parsed.status == ShortFormParse::Invalid)
        throw UsageError{QStringLiteral("\"%1\" is no slot; short forms are tone:N, dsp:N, "
                                        "reg:BANK:N, song:N and rhythm:N")
                             .arg(text)};
    if (parsed.status == ShortFormParse::Valid &&
        !findSlot(slotsOf(drive().root()), parsed.address))
        throw UsageError{QStringLiteral("the ZR-7316 has no slot %1 (tone:0-9, dsp:0-9, "
                                        "reg:0-3:0-3, song:0-1, rhythm:0-3)")
                             .arg(text)};
}

const SlotEntry& KbxTool::resolveSlot(const std::vector<SlotEntry>& slotList, const QString& text) {
    if (const SlotEntry* entry = findSlot(slotList, text))
        return *entry;
    throw UsageError{QStringLiteral("the keyboard's list has no slot \"%1\" (name slots as "
                                    "`kbxtool list` shows them, or by tone:N, dsp:N, reg:BANK:N, "
                                    "song:N, rhythm:N)")
                         .arg(text)};
}

// ---- commands -------------------------------------------------------------------------------

SlotAddress KbxTool::listedAddress(const QString& text) {
    readList();
    const std::vector<SlotEntry> slotList = slotsOf(drive().root());
    return addressOf(*resolveSlot(slotList, text).node);
}

void KbxTool::importCommand() {
    const QString slotText = m_options.args.value(0);
    const QString dir = m_options.args.size() > 1 ? m_options.args[1] : QStringLiteral(".");
    checkSlotText(slotText);
    if (!QFileInfo(dir).isDir())
        throw generalError(QStringLiteral("No such folder: \"%1\"").arg(dir));
    chooseDevices();
    const kbxops::ImportedFile file = keyboard().importSlot(listedAddress(slotText), dir);
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("path"), file.path);
        document.insert(QStringLiteral("kind"), kindName(file.kind));
        document.insert(QStringLiteral("size"), static_cast<qint64>(file.size));
        document.insert(QStringLiteral("name"), keyboardText(file.name));
        printJson(document);
    } else {
        print(file.path + u'\n');
    }
}

void KbxTool::send() {
    const QString path = m_options.args.value(0);
    const QString slotText = m_options.args.value(1);
    checkSlotText(slotText);
    // The file first: one that is no data file is refused before the keyboard is asked anything.
    kbxops::readDataFile(path);
    chooseDevices();
    const kbxops::SendResult sent = keyboard().sendFile(path, listedAddress(slotText));
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("file"), absoluteNative(path));
        document.insert(QStringLiteral("slot"), slotDocument(sent.slot));
        printJson(document);
    } else {
        print(QStringLiteral("Sent %1 into %2 (%3), named %4\n")
                  .arg(absoluteNative(path), printable(keyboardText(sent.slot.path)),
                       shortForm(sent.slot.address), quotedName(sent.slot.name)));
    }
}

void KbxTool::remove() {
    const QString slotText = m_options.args.value(0);
    checkSlotText(slotText);
    const ShortFormParse parsed = parseShortForm(slotText);
    const auto refuse = [](const QString& slot, std::uint16_t kind) {
        return UsageError{QStringLiteral("only songs and user rhythms can be deleted; %1 is a %2 "
                                         "slot")
                              .arg(slot, kindTitle(kind).toLower())};
    };
    if (parsed.status == ShortFormParse::Valid && !ZxKind::isDeletable(parsed.address.kind))
        throw refuse(slotText, parsed.address.kind);
    chooseDevices();
    const SlotAddress address = listedAddress(slotText);
    const kbxops::SlotState before = keyboard().slotState(address);
    if (!ZxKind::isDeletable(address.kind))
        throw refuse(keyboardText(before.path), address.kind);
    const kbxops::DeleteResult result = keyboard().remove(address);
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("slot"), slotDocument(result.slot));
        printJson(document);
    } else {
        const QString oldPath = printable(keyboardText(before.path));
        print(result.deleted ? QStringLiteral("Deleted %1 (%2)\n").arg(oldPath, shortForm(address))
                             : localText("Nothing to delete: %1 (%2) is empty\n",
                                         "削除するデータはありません: %1 (%2) は空です\n")
                                   .arg(oldPath, shortForm(address)));
    }
}

void KbxTool::info() {
    const QString path = m_options.args.value(0);
    printFile(absoluteNative(path), *kbxops::readDataFile(path));
}

void KbxTool::rename() {
    const QString path = m_options.args.value(0);
    const QString typed = m_options.args.value(1);
    const std::string name = kbxops::storableName(typed);
    if (name.empty())
        throw UsageError{QStringLiteral("rename: the new name is empty")};
    if (name.size() > kNameLength)
        throw UsageError{
            QStringLiteral("rename: a name has at most %1 characters").arg(kNameLength)};

    const std::unique_ptr<ZxDataFile> item = kbxops::readDataFile(path);
    if (kbxops::renameDataFile(path, *item, typed) == kbxops::RenameResult::NoName)
        throw generalError(QStringLiteral("\"%1\" holds an item of %2; it has no name to change")
                               .arg(QDir::toNativeSeparators(path), kindTitle(item->kind())));
    printFile(absoluteNative(path), *item);
}

int runCommandLine(const QStringList& arguments) {
    const ParsedArguments parsed = parseArguments(arguments);
    if (!parsed.error.isEmpty()) {
        std::fputs(
            QStringLiteral("kbxtool: %1\n%2\n").arg(parsed.error, usageLine()).toUtf8().constData(),
            stderr);
        return ExitUsage;
    }
    KbxTool tool(parsed.options);
    return tool.run();
}

} // namespace kbxcli
