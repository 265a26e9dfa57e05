#include "cli/cliargs.h"

#include "cli/commands.h"

#include <vector>

namespace kbxcli {

namespace {

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

// A flag is only ever written alone; an option with a value also as "--opt=value".
bool names(const CommandOption& option, const QString& arg) {
    const QString name = QString::fromLatin1(option.name);
    return option.value ? isOption(arg, name) : arg == name;
}

const CommandOption* optionOf(const Command* command, const QString& arg) {
    if (command)
        for (const CommandOption& option : command->options)
            if (names(option, arg))
                return &option;
    return nullptr;
}

// A flag some command also takes before its word, with that command; none: option is null.
struct EarlyOption {
    const CommandOption* option = nullptr;
    const Command* owner = nullptr;
};

EarlyOption earlyOption(const QString& arg) {
    for (const Command& command : commands())
        for (const CommandOption& option : command.options)
            if (option.beforeCommand && names(option, arg))
                return {&option, &command};
    return {};
}

// The operand words of a subcommand and how they must look.
QString checkSubcommand(const Command& command, const QStringList& args) {
    const QString name = QString::fromLatin1(command.name);
    const QString& word = args.first();
    const Subcommand* sub = nullptr;
    QStringList forms;
    for (const Subcommand& s : command.subcommands) {
        forms << QStringLiteral("%1 %2").arg(QLatin1String(s.name), QLatin1String(s.operands));
        if (word == QLatin1String(s.name))
            sub = &s;
    }
    if (!sub)
        return QStringLiteral("%1: unknown subcommand %2 (%3)")
            .arg(name, word, forms.join(QStringLiteral(", ")));
    const QStringList operands = QString::fromLatin1(sub->operands).split(u' ', Qt::SkipEmptyParts);
    if (args.size() != operands.size() + 1)
        return QStringLiteral("%1 %2: %3")
            .arg(name, word,
                 args.size() < operands.size() + 1 ? QStringLiteral("missing operand")
                                                   : QStringLiteral("too many operands"));
    for (qsizetype i = 0; i < operands.size(); ++i) {
        bool number = false;
        if (operands[i] == u"ID" && (args[i + 1].toLongLong(&number) <= 0 || !number))
            return QStringLiteral("%1 %2: \"%3\" is no entry number").arg(name, word, args[i + 1]);
    }
    return {};
}

} // namespace

ParsedArguments parseArguments(const QStringList& args) {
    ParsedArguments parsed;
    Options& o = parsed.options;
    const Command* command = nullptr;
    std::vector<EarlyOption> early;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool option = !optionsEnded && arg.startsWith(u'-') && arg.size() > 1;
        if (!option) {
            if (o.command.isEmpty()) {
                o.command = arg;
                command = findCommand(arg);
            } else {
                o.args.append(arg);
            }
            continue;
        }
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
        } else if (const CommandOption* own = optionOf(command, arg)) {
            QString value;
            if (own->value)
                takeValue(args, i, QString::fromLatin1(own->name), value);
            parsed.error = own->take(o, value);
            if (!parsed.error.isEmpty())
                return parsed;
        } else if (const EarlyOption other = earlyOption(arg); other.option) {
            early.push_back(other); // judged once the command is known
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
    if (!command) {
        parsed.error = QStringLiteral("unknown command %1").arg(o.command);
        return parsed;
    }
    if (o.args.size() < command->minimumOperands()) {
        parsed.error = QStringLiteral("%1: missing operand").arg(o.command);
        return parsed;
    }
    if (o.args.size() > command->maximumOperands()) {
        parsed.error = QStringLiteral("%1: too many operands").arg(o.command);
        return parsed;
    }
    if (!command->subcommands.empty() && !o.args.isEmpty()) {
        parsed.error = checkSubcommand(*command, o.args);
        if (!parsed.error.isEmpty())
            return parsed;
    }
    if (o.useVirtual && (o.hasIn || o.hasOut)) {
        parsed.error = QStringLiteral("--virtual chooses both devices; leave out --in and --out");
        return parsed;
    }
    for (const EarlyOption& e : early) {
        if (e.owner != command) {
            parsed.error = QStringLiteral("%1 is an option of %2")
                               .arg(QLatin1String(e.option->name), QLatin1String(e.owner->name));
            return parsed;
        }
        parsed.error = e.option->take(o, QString());
        if (!parsed.error.isEmpty())
            return parsed;
    }
    if (command->refusesDevices && (o.hasIn || o.hasOut)) {
        parsed.error = QString::fromLatin1(command->refusesDevices);
        return parsed;
    }
    return parsed;
}

QString usageLine() {
    return QStringLiteral(
        "usage: kbxtool [--in DEVICE] [--out DEVICE] [--virtual[=STATEFILE]] [--json] [--trace] "
        "[--no-history] [--verify] COMMAND [ARGS]  (kbxtool --help for the commands)");
}

namespace {

// "  SYNOPSIS                TEXT", a synopsis too long for its column on a line of its own;
// the text's further lines under its first.
QString helpLine(const QString& synopsis, const char* text) {
    constexpr qsizetype kColumn = 24;
    const QString indent(2 + kColumn, u' ');
    QString line = QStringLiteral("  ") + synopsis;
    line += synopsis.size() < kColumn ? QString(kColumn - synopsis.size(), u' ') : u'\n' + indent;
    return line + QString::fromUtf8(text).replace(u'\n', u'\n' + indent) + u'\n';
}

} // namespace

QString helpText() {
    QString commandLines;
    QString documents;
    for (const Command& command : commands()) {
        const QString name = QString::fromLatin1(command.name);
        const QString operands = *command.operands ? u' ' + QLatin1String(command.operands) : "";
        commandLines += helpLine(command.synopsis(), command.help);
        documents += helpLine(name, command.json);
        for (const CommandOption& option : command.options) {
            if (!option.help)
                continue;
            const QString withOption = name + u' ' + QLatin1String(option.name) +
                                       (option.value ? u' ' + QLatin1String(option.value) : "");
            commandLines += helpLine(withOption + operands, option.help);
            if (option.json)
                documents += helpLine(withOption, option.json);
        }
        for (const Subcommand& sub : command.subcommands) {
            const QString withSub = name + u' ' + QLatin1String(sub.name);
            commandLines += helpLine(withSub + u' ' + QLatin1String(sub.operands), sub.help);
            documents += helpLine(withSub, sub.json);
        }
    }
    // Raw strings: the lines as --help prints them.
    return QStringLiteral(
               R"(usage: kbxtool [--in DEVICE] [--out DEVICE] [--virtual[=STATEFILE]] [--json] [--trace]
               [--no-history] [--verify] COMMAND [ARGS]
)") + commandLines +
           QStringLiteral(R"(
DEVICE: a device number or a case-insensitive part of its name; without --in/--out the
devices chosen in kbxman (found by name when their numbers have moved), else device 0.
--virtual: the built-in virtual keyboard on both sides, its memory kept in STATEFILE.
--trace: every MIDI message on stderr, one a line: milliseconds since the command began,
'>' to the keyboard or '<' from it, the bytes in hex, two blanks, what the message means;
a time-out or an error is a line of its own ('!').
SLOT: a path as the window shows it ("Tone:\User 3", "Registration:\Bank2\User 1",
"Song Rhythm:\Song\Song 1") or tone:N, dsp:N, reg:BANK:N, song:N, rhythm:N.
History: before send, delete, restore and undo replace or remove an item, it is read
from the keyboard and kept (kbxman's preference; --no-history keeps nothing); a song
send that fails after the old song was deleted sends the old song back. --verify reads
every sent item back and compares it (kbxman's preferences: restore and undo only).

--json prints one document on stdout instead of the text:
)") + documents +
           QStringLiteral(
               R"(SLOT: {path, kind, number, bank, present, size, name}; ENTRY: {id, time, operation,
slot, kind, before: {name, size, sha256, file}, after: {name, size, sha256}, devices:
{input, output}, undone, group}, before and after null for an empty slot, group null for
a change of its own. A failure: {error: {class, code, message}}.

Exit status: 0 done, 1 the operation failed (ping: a request went unanswered), 2 usage error,
130 interrupted by Ctrl+C or SIGTERM (after the clean-up: ports closed, no file left
half-written).
)");
}

} // namespace kbxcli
