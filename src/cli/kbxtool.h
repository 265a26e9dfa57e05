#pragma once
// kbxtool: the engine of kbxman on the command line. One KbxTool runs one command and returns
// the exit status: 0 done, 1 the operation failed, 2 usage error, 130 stopped by SIGINT or
// SIGTERM (after the clean-up: ports closed, nothing half-written).

#include "cli/cliargs.h"
#include "cli/commands.h"
#include "cli/terminalprogress.h"
#include "common/msgstr.h"
#include "ops/history.h"
#include "ops/keyboard.h"
#include "ops/keyboardaction.h"
#include "ops/slotref.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZxDataFile;
class ZxKbdDrv;

namespace kbxcli {

using namespace kbxops;

enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitInterrupted = 130 };

// Raised for a command line that cannot be carried out as written; reported with the usage line.
struct UsageError {
    QString message;
};

// Needs a QCoreApplication: the exchanges with the keyboard wait in its event loop.
class KbxTool {
public:
    explicit KbxTool(Options options);
    ~KbxTool();

    int run();

    // The settings kbxman keeps: organisation "Tovanel", application "KbxMan".
    static constexpr const char* kOrganisation = "Tovanel";
    static constexpr const char* kApplication = "KbxMan";

private:
    // The table names the handlers below.
    friend std::span<const Command> commands();

    int runCommand();
    void devices();
    void list();
    void importCommand();
    void send();
    void remove();
    void info();
    void rename();
    void backup();
    void restore();
    void diff();
    void restorePlan();
    void emulate();
    void detect();
    void ping();
    void undo();
    void historyCommand();

    ZxKbdDrv& drive();
    kbxops::Keyboard keyboard();
    // The history every command shares; created on first use.
    kbxops::History& history();
    // kbxman's safety preferences with --no-history and --verify applied.
    kbxops::Safety safety();
    // The devices of this run, kbxman's choice where the options leave one open; with bind, the
    // run's keyboard action is opened on them (bound, locked) for every later keyboard().
    void chooseDevices(bool bind = true);
    void useVirtualKeyboardState();
    void readList();
    void checkSlotText(const QString& text);
    const SlotEntry& resolveSlot(const std::vector<SlotEntry>& slots, const QString& text);
    // The address of the slot the text names in the keyboard's list (read first).
    SlotAddress listedAddress(const QString& text);

    QJsonObject slotDocument(const kbxops::SlotState& state) const;
    static QJsonObject fileDocument(const QString& path, const ZxDataFile& item);
    void printFile(const QString& path, const ZxDataFile& item);
    QJsonObject errorDocument(std::exception_ptr error) const;
    static QJsonObject entryDocument(const kbxops::HistoryEntry& entry);
    static QString entryLine(const kbxops::HistoryEntry& entry);
    // What a cancelled job reports: "Cancelled." in the user's language.
    ErrorReport cancelReport() const;

    void print(const QString& text);
    void printJson(const QJsonObject& document);
    void printError(const QString& text);

    Options m_options;
    MsgStr m_messages;
    ProgressBar m_bar;
    TerminalProgress m_progress;
    int m_input = 0;
    int m_output = 0;
    bool m_failed = false;      // some items of a restore failed; each was reported
    bool m_interrupted = false; // a backup or restore stopped between items; reported
    std::unique_ptr<kbxops::History> m_history;
    std::unique_ptr<kbxops::KeyboardAction> m_action;
};

// Parses the arguments (without the program's name) and runs the command: the exit status.
int runCommandLine(const QStringList& arguments);

} // namespace kbxcli
