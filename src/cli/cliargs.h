#pragma once
// kbxtool's command line:
//   kbxtool [--in DEVICE] [--out DEVICE] [--virtual[=STATEFILE]] [--json] [--trace]
//           [--no-history] [--verify] COMMAND [ARGS]
// The global options may also follow the command; "--" ends the options. The commands, their
// operands and their own options are the rows of commands.h.

#include <QString>
#include <QStringList>

namespace kbxcli {

struct Options {
    bool hasIn = false;
    QString in;
    bool hasOut = false;
    QString out;
    bool useVirtual = false;
    QString stateFile; // --virtual=STATEFILE; empty: the virtual keyboard's usual file
    bool json = false;
    bool trace = false;     // every MIDI message and time-out on stderr, one a line
    bool noHistory = false; // keep no copy of what a change replaces, whatever kbxman's setting
    bool verify = false;    // read every sent item back, whatever kbxman's settings
    bool help = false;
    bool version = false;
    bool dryRun = false; // restore: print the plan, send nothing

    QString command;
    QStringList args; // the command's operands, options removed

    // detect's own option
    bool save = false;
    bool skipUncopied = false; // undo: past changes made without a copy, and damaged ones
    // ping's own option
    bool hasCount = false;
    int count = 10;

    // emulate's own options
    bool hasName = false;
    QString name;
    bool hasState = false;
    QString state;
};

struct ParsedArguments {
    Options options;
    QString error; // not empty: a usage error
};

// arguments: without the program's name.
ParsedArguments parseArguments(const QStringList& arguments);

QString usageLine();
QString helpText();

} // namespace kbxcli
