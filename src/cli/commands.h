#pragma once
// kbxtool's commands, one row each: what the parser, --help, the dispatch and the test that holds
// the man page and the completion to the same list all read. A new command is a row here and its
// handler in KbxTool.

#include <QString>
#include <QStringView>
#include <span>

namespace kbxcli {

class KbxTool;
struct Options;

// An option of one command ("ping --count N"). It follows the command, unless beforeCommand.
struct CommandOption {
    const char* name;            // "--count"
    const char* value = nullptr; // "N"; nullptr for a flag
    // A help line of its own ("restore --dry-run DIR   print ..."); nullptr: the option shows as
    // "[--count N]" in the command's line.
    const char* help = nullptr;
    // The document --json prints when the option changes it; nullptr: the command's.
    const char* json = nullptr;
    // Stores the value (empty for a flag or a missing value): the usage error, or empty.
    QString (*take)(Options& options, const QString& value) = nullptr;
    // A flag also accepted before the command word, as it always was; with another command it is
    // a usage error of its own ("--dry-run is an option of restore").
    bool beforeCommand = false;
};

// A word that selects what a command does ("history export ID DIR").
struct Subcommand {
    const char* name;
    const char* operands; // ID is an entry number
    const char* help;
    const char* json;
};

struct Command {
    const char* name;
    // Operand words, optional ones in brackets: "SLOT [DIR]". With subcommands: none of its own.
    const char* operands = "";
    const char* help = ""; // "\n" continues it on the next line of --help
    const char* json = ""; // the document --json prints
    void (KbxTool::*run)() = nullptr;
    std::span<const CommandOption> options = {};
    std::span<const Subcommand> subcommands = {};
    // The usage error when --in or --out is given; nullptr: they choose the devices.
    const char* refusesDevices = nullptr;
    // Runs without kbxtool's interrupt watcher: it has its own and serves until interrupted.
    bool servesUntilInterrupted = false;

    int minimumOperands() const;
    int maximumOperands() const;
    // "import SLOT [DIR]", "detect [--save]", "history"
    QString synopsis() const;
};

std::span<const Command> commands();
// nullptr for a word that names no command.
const Command* findCommand(QStringView name);

} // namespace kbxcli
