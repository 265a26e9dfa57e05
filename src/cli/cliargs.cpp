#include "cliargs.h"

namespace kbxcli {

namespace {

struct CommandInfo {
    const char* name;
    int minimum;
    int maximum;
};

constexpr CommandInfo kCommands[] = {
    {"devices", 0, 0}, {"list", 0, 0},   {"import", 1, 2}, {"send", 2, 2},    {"delete", 1, 1},
    {"info", 1, 1},    {"rename", 2, 2}, {"backup", 1, 1}, {"restore", 1, 1}, {"emulate", 0, 0},
    {"diff", 2, 2},    {"detect", 0, 0}, {"ping", 0, 0},   {"undo", 0, 0},    {"history", 0, 3},
};

// A ping sends this many requests at most: each may wait 200 ms.
constexpr int kMaxPingCount = 1000;

// "--opt=value" or "--opt value": takes the value and advances i. False when it is missing.
bool takeValue(const QStringList& args, int& i, const QString& option, QString& value) {
    const QString& arg = args[i];
    if (arg.size() > option.size() && arg.startsWith(option + u'=')) {
        value = arg.mid(option.size() + 1);
        return true;
    }
    if (i + 1 >= args.size())
        return false;
    value = args[++i];
    return true;
}

bool isOption(const QString& arg, const QString& option) {
    return arg == option || arg.startsWith(option + u'=');
}

} // namespace

bool operandRange(const QString& command, int& minimum, int& maximum) {
    for (const CommandInfo& c : kCommands) {
        if (command == QLatin1String(c.name)) {
            minimum = c.minimum;
            maximum = c.maximum;
            return true;
        }
    }
    return false;
}

ParsedArguments parseArguments(const QStringList& args) {
    ParsedArguments parsed;
    Options& o = parsed.options;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool option = !optionsEnded && arg.startsWith(u'-') && arg.size() > 1;
        if (!option) {
            if (o.command.isEmpty())
                o.command = arg;
            else
                o.args.append(arg);
            continue;
        }
        QString value;
        if (arg == u"--") {
            optionsEnded = true;
        } else if (arg == u"--json") {
            o.json = true;
        } else if (arg == u"--trace") {
            o.trace = true;
        } else if (arg == u"--no-history") {
            o.noHistory = true;
        } else if (arg == u"--verify") {
            o.verify = true;
        } else if (arg == u"-h" || arg == u"--help") {
            o.help = true;
        } else if (arg == u"--version") {
            o.version = true;
        } else if (arg == u"--dry-run") {
            o.dryRun = true;
        } else if (arg == u"--virtual") {
            o.useVirtual = true; // the value is optional and only ever given with "="
        } else if (arg.startsWith(u"--virtual=")) {
            o.useVirtual = true;
            o.stateFile = arg.mid(10);
            if (o.stateFile.isEmpty()) {
                parsed.error = QStringLiteral("--virtual= needs a file name");
                return parsed;
            }
        } else if (isOption(arg, QStringLiteral("--in"))) {
            if (!takeValue(args, i, QStringLiteral("--in"), o.in)) {
                parsed.error = QStringLiteral("--in needs a device");
                return parsed;
            }
            o.hasIn = true;
        } else if (isOption(arg, QStringLiteral("--out"))) {
            if (!takeValue(args, i, QStringLiteral("--out"), o.out)) {
                parsed.error = QStringLiteral("--out needs a device");
                return parsed;
            }
            o.hasOut = true;
        } else if (o.command == u"detect" && arg == u"--save") {
            o.save = true;
        } else if (o.command == u"ping" && isOption(arg, QStringLiteral("--count"))) {
            QString text;
            bool ok = takeValue(args, i, QStringLiteral("--count"), text);
            o.count = text.toInt(&ok);
            if (!ok || o.count < 1 || o.count > kMaxPingCount) {
                parsed.error =
                    QStringLiteral("--count needs a number from 1 to %1").arg(kMaxPingCount);
                return parsed;
            }
            o.hasCount = true;
        } else if (o.command == u"emulate" && isOption(arg, QStringLiteral("--name"))) {
            if (!takeValue(args, i, QStringLiteral("--name"), o.name) || o.name.isEmpty()) {
                parsed.error = QStringLiteral("--name needs a port name");
                return parsed;
            }
            o.hasName = true;
        } else if (o.command == u"emulate" && isOption(arg, QStringLiteral("--state"))) {
            if (!takeValue(args, i, QStringLiteral("--state"), o.state) || o.state.isEmpty()) {
                parsed.error = QStringLiteral("--state needs a file name");
                return parsed;
            }
            o.hasState = true;
        } else {
            parsed.error = QStringLiteral("unknown option %1").arg(arg);
            return parsed;
        }
    }
    if (o.help || o.version)
        return parsed;
    if (o.command.isEmpty()) {
        parsed.error = QStringLiteral("no command given");
        return parsed;
    }
    int minimum = 0;
    int maximum = 0;
    if (!operandRange(o.command, minimum, maximum)) {
        parsed.error = QStringLiteral("unknown command %1").arg(o.command);
        return parsed;
    }
    if (o.args.size() < minimum) {
        parsed.error = QStringLiteral("%1: missing operand").arg(o.command);
        return parsed;
    }
    if (o.args.size() > maximum) {
        parsed.error = QStringLiteral("%1: too many operands").arg(o.command);
        return parsed;
    }
    if (o.command == u"history" && !o.args.isEmpty()) {
        const QString& sub = o.args.first();
        const int wanted = sub == u"export" ? 3 : sub == u"restore" ? 2 : -1;
        if (wanted < 0) {
            parsed.error = QStringLiteral("history: unknown subcommand %1 (export ID DIR, "
                                          "restore ID)")
                               .arg(sub);
            return parsed;
        }
        if (o.args.size() != wanted) {
            parsed.error =
                QStringLiteral("history %1: %2")
                    .arg(sub, o.args.size() < wanted ? QStringLiteral("missing operand")
                                                     : QStringLiteral("too many operands"));
            return parsed;
        }
        bool number = false;
        if (o.args[1].toLongLong(&number) <= 0 || !number) {
            parsed.error =
                QStringLiteral("history %1: \"%2\" is no entry number").arg(sub, o.args[1]);
            return parsed;
        }
    }
    if (o.useVirtual && (o.hasIn || o.hasOut)) {
        parsed.error = QStringLiteral("--virtual chooses both devices; leave out --in and --out");
        return parsed;
    }
    if (o.dryRun && o.command != u"restore") {
        parsed.error = QStringLiteral("--dry-run is an option of restore");
        return parsed;
    }
    if (o.command == u"emulate" && (o.hasIn || o.hasOut)) {
        parsed.error = QStringLiteral("emulate takes no --in or --out");
        return parsed;
    }
    if (o.command == u"detect" && (o.hasIn || o.hasOut)) {
        parsed.error = QStringLiteral("detect tries every device; leave out --in and --out");
        return parsed;
    }
    return parsed;
}

QString usageLine() {
    return QStringLiteral(
        "usage: kbxtool [--in DEVICE] [--out DEVICE] [--virtual[=STATEFILE]] [--json] [--trace] "
        "[--no-history] [--verify] COMMAND [ARGS]  (kbxtool --help for the commands)");
}

QString helpText() {
    return QStringLiteral(
        "usage: kbxtool [--in DEVICE] [--out DEVICE] [--virtual[=STATEFILE]] [--json] [--trace]\n"
        "               [--no-history] [--verify] COMMAND [ARGS]\n"
        "  devices                 MIDI input and output devices with their numbers\n"
        "  list                    read the keyboard's contents (what \"Get/Update List\" reads)\n"
        "  import SLOT [DIR]       import one item into DIR (default: the current folder); "
        "prints the file's path\n"
        "  send FILE SLOT          send a data file into a slot\n"
        "  delete SLOT             delete a song or a user rhythm\n"
        "  info FILE               kind, size and name of a data file\n"
        "  rename FILE NAME        change the name inside a data file (at most 8 characters)\n"
        "  backup DIR              import every present item into DIR, plus DIR/manifest.json "
        "(file -> slot)\n"
        "  restore DIR             send every file of a backup back into the slot its manifest "
        "names\n"
        "  restore --dry-run DIR   print what a restore would change, send nothing\n"
        "  diff A B                compare two backups, or a backup and the keyboard (A or B\n"
        "                          \"keyboard\"), slot by slot\n"
        "  detect [--save]         find the devices the keyboard answers on (the built-in virtual\n"
        "                          keyboard only when nothing else answers); --save stores them\n"
        "                          in kbxman's settings\n"
        "  ping [--count N]        test the connection: N keyboard-type requests (default 10),\n"
        "                          their round trips and losses\n"
        "  undo                    revert the newest change not undone yet (send the item before\n"
        "                          back, or delete what was sent into an empty slot)\n"
        "  history                 the changes kept in the history, newest first\n"
        "  history export ID DIR   write entry ID's item before into DIR; prints the file's path\n"
        "  history restore ID      send entry ID's item before back into its slot\n"
        "  emulate [--name NAME] [--state FILE]\n"
        "                          publish the virtual ZR-7316 on virtual MIDI ports named NAME\n"
        "                          (default \"ZR-7316 Virtual\") until interrupted\n"
        "\n"
        "DEVICE: a device number or a case-insensitive part of its name; without --in/--out the\n"
        "devices chosen in kbxman (found by name when their numbers have moved), else device 0.\n"
        "--virtual: the built-in virtual keyboard on both sides, its memory kept in STATEFILE.\n"
        "--trace: every MIDI message on stderr, one a line: milliseconds since the command "
        "began,\n"
        "'>' to the keyboard or '<' from it, the bytes in hex, two blanks, what the message "
        "means;\n"
        "a time-out or an error is a line of its own ('!').\n"
        "SLOT: a path as the window shows it (\"Tone:\\User 3\", \"Registration:\\Bank2\\User "
        "1\",\n"
        "\"Song Rhythm:\\Song\\Song 1\") or tone:N, dsp:N, reg:BANK:N, song:N, rhythm:N.\n"
        "History: before send, delete, restore and undo replace or remove an item, it is read\n"
        "from the keyboard and kept (kbxman's preference; --no-history keeps nothing); a song\n"
        "send that fails after the old song was deleted sends the old song back. --verify reads\n"
        "every sent item back and compares it (kbxman's preferences: restore and undo only).\n"
        "Exit status: 0 done, 1 the operation failed (ping: a request went unanswered), 2 usage "
        "error.\n");
}

} // namespace kbxcli
