#include "cli/commands.h"

#include "cli/cliargs.h"
#include "cli/kbxtool.h"

#include <QStringList>

namespace kbxcli {

namespace {

// A ping sends this many requests at most: each may wait 200 ms.
constexpr int kMaxPingCount = 1000;

constexpr CommandOption kRestoreOptions[] = {
    {.name = "--dry-run",
     .help = "print what a restore would change, send nothing",
     .json = "{changes: [{slot, now, backup}], unchanged}; now, backup:\n"
             "{name, size, file} or null",
     .take =
         [](Options& o, const QString&) {
             o.dryRun = true;
             return QString();
         },
     .beforeCommand = true},
};

constexpr CommandOption kDetectOptions[] = {
    {.name = "--save",
     .take =
         [](Options& o, const QString&) {
             o.save = true;
             return QString();
         }},
};

constexpr CommandOption kUndoOptions[] = {
    {.name = "--skip-uncopied",
     .take =
         [](Options& o, const QString&) {
             o.skipUncopied = true;
             return QString();
         }},
};

constexpr CommandOption kPingOptions[] = {
    {.name = "--count",
     .value = "N",
     .take =
         [](Options& o, const QString& value) {
             bool ok = false;
             o.count = value.toInt(&ok);
             if (!ok || o.count < 1 || o.count > kMaxPingCount)
                 return QStringLiteral("--count needs a number from 1 to %1").arg(kMaxPingCount);
             o.hasCount = true;
             return QString();
         }},
};

constexpr CommandOption kEmulateOptions[] = {
    {.name = "--name",
     .value = "NAME",
     .take =
         [](Options& o, const QString& value) {
             if (value.isEmpty())
                 return QStringLiteral("--name needs a port name");
             o.name = value;
             o.hasName = true;
             return QString();
         }},
    {.name = "--state",
     .value = "FILE",
     .take =
         [](Options& o, const QString& value) {
             if (value.isEmpty())
                 return QStringLiteral("--state needs a file name");
             o.state = value;
             o.hasState = true;
             return QString();
         }},
};

constexpr Subcommand kHistorySubcommands[] = {
    {"export", "ID DIR", "write entry ID's item before into DIR; prints the file's path", "{path}"},
    {"restore", "ID", "send entry ID's item before back into its slot",
     "ENTRY: the entry sent back"},
};

constexpr const char* kFile = "{path, kind, size, name}";

} // namespace

std::span<const Command> commands() {
    // In the order of --help.
    static constexpr Command kCommands[] = {
        {.name = "devices",
         .help = "MIDI input and output devices with their numbers",
         .json = "{inputs, outputs: [{number, name}]}",
         .run = &KbxTool::devices},
        {.name = "list",
         .help = "read the keyboard's contents (what \"Get/Update List\" reads)",
         .json = "{model, folders: [{path, kind, capacity, freeSpace, usedSpace,\n"
                 "present, size}], slots: [SLOT]}",
         .run = &KbxTool::list},
        {.name = "import",
         .operands = "SLOT [DIR]",
         .help = "import one item into DIR (default: the current folder); prints the file's path",
         .json = kFile,
         .run = &KbxTool::importCommand},
        {.name = "send",
         .operands = "FILE SLOT",
         .help = "send a data file into a slot",
         .json = "{file, slot: SLOT afterwards}",
         .run = &KbxTool::send},
        {.name = "delete",
         .operands = "SLOT",
         .help = "delete a song or a user rhythm",
         .json = "{slot: SLOT afterwards}",
         .run = &KbxTool::remove},
        {.name = "info",
         .operands = "FILE",
         .help = "kind, size and name of a data file",
         .json = kFile,
         .run = &KbxTool::info},
        {.name = "rename",
         .operands = "FILE NAME",
         .help = "change the name inside a data file (at most 8 characters)",
         .json = kFile,
         .run = &KbxTool::rename},
        {.name = "backup",
         .operands = "DIR",
         .help = "import every present item into DIR, plus DIR/manifest.json (file -> slot)",
         .json = "{directory, manifest, files: [{file, slot, path, kind, size,\n"
                 "name}], empty, complete}; cut short, also notDone and error",
         .run = &KbxTool::backup},
        {.name = "restore",
         .operands = "DIR",
         .help = "send every file of a backup back into the slot its manifest names",
         .json = "{directory, restored: [{file, slot}], cleared, failed: [{file,\n"
                 "slot, error}], backupComplete, cancelled}; cut short, also\n"
                 "notDone and error",
         .run = &KbxTool::restore,
         .options = kRestoreOptions},
        {.name = "diff",
         .operands = "A B",
         .help = "compare two backups, or a backup and the keyboard (A or B\n"
                 "\"keyboard\"), slot by slot",
         .json = "{slots: [{slot, state, a, b}]}; a, b: {name, size, file} or null",
         .run = &KbxTool::diff},
        {.name = "detect",
         .help = "find the devices the keyboard answers on (the built-in virtual\n"
                 "keyboard only when nothing else answers); --save stores them\n"
                 "in kbxman's settings",
         .json = "{input, output: {number, name}, virtual, tried}",
         .run = &KbxTool::detect,
         .options = kDetectOptions,
         .refusesDevices = "detect tries every device; leave out --in and --out"},
        {.name = "ping",
         .help = "test the connection: N keyboard-type requests (default 10),\n"
                 "their round trips and losses",
         .json = "{sent, answered, min_ms, median_ms, max_ms}",
         .run = &KbxTool::ping,
         .options = kPingOptions},
        {.name = "undo",
         .help = "revert the newest change not undone yet (send the item before\n"
                 "back, or delete what was sent into an empty slot)",
         .json = "ENTRY: the change reverted",
         .run = &KbxTool::undo,
         .options = kUndoOptions},
        {.name = "history",
         .help = "the changes kept in the history, newest first",
         .json = "{entries: [ENTRY]}",
         .run = &KbxTool::historyCommand,
         .subcommands = kHistorySubcommands},
        {.name = "emulate",
         .help = "publish the virtual ZR-7316 on virtual MIDI ports named NAME\n"
                 "(default \"ZR-7316 Virtual\") until interrupted",
         .json = "{name, stateFile, ports: [{api, input, output}]}",
         .run = &KbxTool::emulate,
         .options = kEmulateOptions,
         .refusesDevices = "emulate takes no --in or --out",
         .servesUntilInterrupted = true},
    };
    return kCommands;
}

const Command* findCommand(QStringView name) {
    for (const Command& command : commands())
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

int Command::minimumOperands() const {
    int count = 0;
    for (const QString& word : QString::fromLatin1(operands).split(u' ', Qt::SkipEmptyParts))
        count += word.startsWith(u'[') ? 0 : 1;
    return count;
}

int Command::maximumOperands() const {
    int most = int(QString::fromLatin1(operands).split(u' ', Qt::SkipEmptyParts).size());
    for (const Subcommand& sub : subcommands)
        most = std::max(
            most,
            1 + int(QString::fromLatin1(sub.operands).split(u' ', Qt::SkipEmptyParts).size()));
    return most;
}

QString Command::synopsis() const {
    QStringList words{QString::fromLatin1(name)};
    for (const CommandOption& option : options)
        if (!option.help)
            words << (option.value ? QStringLiteral("[%1 %2]").arg(QLatin1String(option.name),
                                                                   QLatin1String(option.value))
                                   : QStringLiteral("[%1]").arg(QLatin1String(option.name)));
    if (*operands)
        words << QString::fromLatin1(operands);
    return words.join(u' ');
}

} // namespace kbxcli
