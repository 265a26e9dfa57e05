// kbxtool as a user runs it: the built program against the built-in virtual keyboard, every test
// with a keyboard memory and a home folder of its own, so neither the user's settings nor the
// virtual keyboard's usual state file are ever touched.
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

#include "testutil.h"

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef KBXTOOL_PATH
#error "KBXTOOL_PATH must name the kbxtool binary"
#endif

QT_BEGIN_NAMESPACE
// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;

    QJsonObject json() const {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << out.toStdString();
        return document.object();
    }
    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }
};

std::ostream& operator<<(std::ostream& os, const Outcome& r) {
    return os << "status " << r.status << "\nstdout:\n"
              << r.out.toStdString() << "\nstderr:\n"
              << r.err.toStdString();
}

// A data file: the 64-byte header, then the payload.
QByteArray kbxFile(std::uint16_t kind, const QByteArray& payload) {
    QByteArray bytes("VELMO Music Lib", 15);
    bytes.append('\0');
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((size >> shift) & 0xFF));
    bytes.append('\x11').append('\x01');
    bytes.append(static_cast<char>(kind >> 8)).append(static_cast<char>(kind & 0xFF));
    bytes.append(QByteArray(40, '\0'));
    return bytes + payload;
}

// A payload with an 8-byte name at the given offset.
QByteArray named(int size, int offset, const QByteArray& name) {
    QByteArray payload(size, '\0');
    payload.replace(offset, 8, name.leftJustified(8, ' ', true));
    return payload;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QJsonObject slotOf(const QJsonObject& list, int index) {
    return list.value(QStringLiteral("slots")).toArray().at(index).toObject();
}

constexpr int kTone0 = 0, kDsp0 = 10, kSong0 = 36, kRhythm0 = 38;

// Windows takes the user's language from the system's setting, never from LANG or LC_ALL;
// scripts/windows/checks checks the Japanese messages there.
#ifdef _WIN32
constexpr bool kLanguageFromLocaleVariables = false;
#else
constexpr bool kLanguageFromLocaleVariables = true;
#endif

class KbxToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_home.isValid());
        m_state = path(QStringLiteral("keyboard.state"));
    }

    // As kbxtool prints paths: with the system's separators.
    QString path(const QString& relative) const {
        return QDir::toNativeSeparators(QDir(m_home.path()).filePath(relative));
    }
    // kbxman's settings as this test's kbxtool reads them (KBX_SETTINGS).
    QString settingsFile() const { return path(QStringLiteral("config/Tovanel/KbxMan.conf")); }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        env.insert(QStringLiteral("LC_ALL"), m_locale);
        env.insert(QStringLiteral("LANG"), m_locale);
        env.remove(QStringLiteral("LANGUAGE"));
        env.remove(QStringLiteral("JACK_DEFAULT_SERVER"));
        // The machine's own MIDI devices stay out of the device lists.
        env.insert(QStringLiteral("KBX_TEST"), QStringLiteral("1"));
        // kbxman's settings where this machine's store would keep them.
        env.insert(QStringLiteral("KBX_SETTINGS"),
                   path(QStringLiteral("config/Tovanel/KbxMan.conf")));
        // One history for all commands of a test (a process's own temporary one otherwise).
        env.insert(QStringLiteral("KBX_HISTORY_DIR"), path(QStringLiteral("history")));
#ifdef _WIN32
        // The built-in keyboard's usual file where it is on Linux: HOME does not move
        // application data on Windows.
        env.insert(QStringLiteral("KBX_VIRTUAL_STATE"),
                   path(QStringLiteral("data/Tovanel/KbxMan/virtual-zr7316.json")));
#endif
        return env;
    }

    Outcome run(const QStringList& args) {
        QProcess process;
        process.setProgram(QStringLiteral(KBXTOOL_PATH));
        process.setArguments(args);
        process.setProcessEnvironment(environment());
        process.setWorkingDirectory(m_home.path());
        process.start();
        EXPECT_TRUE(process.waitForFinished(60000)) << args.join(u' ').toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        Outcome r;
        r.status = process.exitCode();
        r.out = lines(process.readAllStandardOutput());
        r.err = lines(process.readAllStandardError());
        return r;
    }

    // Text written on Windows ends its lines with CR LF.
    static QString lines(const QByteArray& bytes) {
        return QString::fromUtf8(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }

    // On the virtual keyboard of this test.
    Outcome kbx(QStringList args) {
        args.prepend(QStringLiteral("--virtual=") + m_state);
        return run(args);
    }

    QJsonObject list() {
        const Outcome r = kbx({QStringLiteral("--json"), QStringLiteral("list")});
        EXPECT_EQ(r.status, 0) << r;
        return r.json();
    }

    QString importInto(const QString& slot, const QString& dir) {
        QDir().mkpath(dir);
        const Outcome r = kbx({QStringLiteral("import"), slot, dir});
        EXPECT_EQ(r.status, 0) << r;
        return r.out.chopped(1);
    }

    void expectFailure(const Outcome& r, const QString& message) {
        EXPECT_EQ(r.status, 1) << r;
        EXPECT_EQ(r.errLines(), QStringList{message}) << r;
        EXPECT_TRUE(r.out.isEmpty()) << r;
    }

    void expectJsonError(const Outcome& r, const QString& className, int code,
                         const QString& message) {
        EXPECT_EQ(r.status, 1) << r;
        const QJsonObject error = r.json().value(QStringLiteral("error")).toObject();
        EXPECT_EQ(error.value(QStringLiteral("class")).toString(), className) << r;
        EXPECT_EQ(error.value(QStringLiteral("code")).toInt(-1), code) << r;
        EXPECT_EQ(error.value(QStringLiteral("message")).toString(), message) << r;
    }

    // Runs kbxtool on this test's virtual keyboard at MIDI's own speed, so that an action lasts
    // seconds, and sends it `signal` once `ready` holds for what it has printed so far. Windows
    // has no signals: there kbxtool gets Ctrl+Break, as in a console, in a process group of its
    // own in this program's console.
    Outcome interrupted(QStringList args, int signal,
                        const std::function<bool(const QByteArray& out)>& ready) {
        args.prepend(QStringLiteral("--virtual=") + m_state);
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("KBX_TEST_WIRE_SPEED"), QStringLiteral("1"));
        QProcess process;
        process.setProgram(QStringLiteral(KBXTOOL_PATH));
        process.setArguments(args);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_home.path());
#ifdef _WIN32
        if (!GetConsoleWindow())
            AllocConsole();
        process.setCreateProcessArgumentsModifier(
            [](QProcess::CreateProcessArguments* a) { a->flags |= CREATE_NEW_PROCESS_GROUP; });
#endif
        process.start();
        EXPECT_TRUE(process.waitForStarted());
        QByteArray out;
        while (process.state() == QProcess::Running && !ready(out)) {
            process.waitForReadyRead(20);
            out += process.readAllStandardOutput();
        }
        EXPECT_EQ(process.state(), QProcess::Running) << "ended before it was interrupted";
#ifdef _WIN32
        Q_UNUSED(signal);
        if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(process.processId()))) {
            const DWORD error = GetLastError();
            if (kbxtest::onWine()) {
                // Wine 8 sends no console control event to a process group of a console that
                // this program made: the case says so instead of waiting for the whole action.
                m_noConsoleEvent = true;
                process.kill();
                process.waitForFinished(30000);
                return {};
            }
            ADD_FAILURE() << "GenerateConsoleCtrlEvent failed, error " << error;
        }
#else
        ::kill(static_cast<pid_t>(process.processId()), signal);
#endif
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        Outcome r;
        r.status = process.exitCode();
        r.out = lines(out + process.readAllStandardOutput());
        r.err = lines(process.readAllStandardError());
        return r;
    }

    void expectUsageError(const Outcome& r) {
        EXPECT_EQ(r.status, 2) << r;
        EXPECT_TRUE(r.err.contains(QStringLiteral("usage: kbxtool"))) << r;
        EXPECT_TRUE(r.out.isEmpty()) << r;
    }

    QTemporaryDir m_home;
    QString m_state;
    QString m_locale = QStringLiteral("C");
    bool m_noConsoleEvent = false; // interrupted() could not interrupt: Wine, see there
};

// ---- devices and list -----------------------------------------------------------------------

TEST_F(KbxToolTest, devicesListsTheVirtualKeyboardOnBothSides) {
    const Outcome human = kbx({QStringLiteral("devices")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_EQ(human.out.count(QStringLiteral("0  Virtual ZR-7316")), 2) << human;

    const Outcome json = kbx({QStringLiteral("devices"), QStringLiteral("--json")});
    ASSERT_EQ(json.status, 0) << json;
    for (const char* side : {"inputs", "outputs"}) {
        const QJsonArray devices = json.json().value(QLatin1String(side)).toArray();
        ASSERT_EQ(devices.size(), 1) << json;
        EXPECT_EQ(devices[0].toObject().value(QStringLiteral("number")).toInt(-1), 0);
        EXPECT_EQ(devices[0].toObject().value(QStringLiteral("name")).toString(),
                  QStringLiteral("Virtual ZR-7316"));
    }
}

TEST_F(KbxToolTest, listJsonHasFoldersAndSlotsInTheDrivesOrder) {
    const QJsonObject document = list();
    EXPECT_EQ(document.value(QStringLiteral("model")).toString(), QStringLiteral("ZR-7316"));

    const QJsonArray folders = document.value(QStringLiteral("folders")).toArray();
    ASSERT_EQ(folders.size(), 10);
    const QJsonObject tones = folders[0].toObject();
    EXPECT_EQ(tones.value(QStringLiteral("path")).toString(), QStringLiteral("Tone:"));
    EXPECT_EQ(tones.value(QStringLiteral("kind")).toString(), QStringLiteral("tone"));
    EXPECT_EQ(tones.value(QStringLiteral("capacity")).toInt(), 600);
    EXPECT_EQ(tones.value(QStringLiteral("usedSpace")).toInt(), 600);
    const QJsonObject songs = folders[7].toObject();
    EXPECT_EQ(songs.value(QStringLiteral("path")).toString(), QStringLiteral("Song Rhythm:"));
    EXPECT_EQ(songs.value(QStringLiteral("capacity")).toInt(), 21504);
    EXPECT_EQ(songs.value(QStringLiteral("freeSpace")).toInt() +
                  songs.value(QStringLiteral("usedSpace")).toInt(),
              21504);
    EXPECT_EQ(folders[9].toObject().value(QStringLiteral("path")).toString(),
              QStringLiteral("Song Rhythm:\\Rhythm"));
    EXPECT_TRUE(folders[9].toObject().value(QStringLiteral("present")).toBool());
    for (const QJsonValue& f : folders)
        for (const char* key : {"kind", "capacity", "freeSpace", "usedSpace", "present", "size"})
            EXPECT_TRUE(f.toObject().contains(QLatin1String(key))) << key;

    const QJsonArray slotNames = document.value(QStringLiteral("slots")).toArray();
    ASSERT_EQ(slotNames.size(), 42);
    const QJsonObject tone = slotNames[kTone0].toObject();
    EXPECT_EQ(tone.value(QStringLiteral("kind")).toString(), QStringLiteral("tone"));
    EXPECT_EQ(tone.value(QStringLiteral("size")).toInt(), 60);
    EXPECT_TRUE(tone.value(QStringLiteral("present")).toBool());
    EXPECT_TRUE(tone.value(QStringLiteral("bank")).isNull());
    EXPECT_EQ(tone.value(QStringLiteral("name")).toString().size(), 8); // blanks kept
    EXPECT_EQ(tone.value(QStringLiteral("path")).toString(),
              QStringLiteral("Tone:\\") + tone.value(QStringLiteral("name")).toString());
    const QJsonObject reg = slotNames[20 + 2 * 4 + 3].toObject();
    EXPECT_EQ(reg.value(QStringLiteral("kind")).toString(), QStringLiteral("registration"));
    EXPECT_EQ(reg.value(QStringLiteral("bank")).toInt(), 2);
    EXPECT_EQ(reg.value(QStringLiteral("number")).toInt(), 3);
    EXPECT_EQ(reg.value(QStringLiteral("name")).toString(), QStringLiteral("Preset24"));
    EXPECT_EQ(reg.value(QStringLiteral("path")).toString(),
              QStringLiteral("Registration:\\Bank2\\Preset24"));
    const QJsonObject song1 = slotNames[kSong0 + 1].toObject();
    EXPECT_EQ(song1.value(QStringLiteral("kind")).toString(), QStringLiteral("song"));
    EXPECT_FALSE(song1.value(QStringLiteral("present")).toBool());
    EXPECT_EQ(song1.value(QStringLiteral("name")).toString(), QStringLiteral("Song 1"));
}

TEST_F(KbxToolTest, listHumanFormShowsEverySlotAndNoProgressOffATerminal) {
    const Outcome r = kbx({QStringLiteral("list")});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(r.err.isEmpty()) << r; // stderr is a pipe here: no progress bar
    for (const char* slot : {"tone:9", "dsp:0", "reg:3:3", "song:1", "rhythm:3"})
        EXPECT_TRUE(r.out.contains(QLatin1String(slot))) << slot;
    EXPECT_TRUE(r.out.contains(QStringLiteral("Song Rhythm:\\Song\\Song 1"))) << r;
    EXPECT_TRUE(r.out.contains(QStringLiteral("capacity 21504 bytes"))) << r;
}

// ---- import -----------------------------------------------------------------------------------

TEST_F(KbxToolTest, importShortAndLongFormsReachTheSameSlot) {
    const QJsonObject tone1 = slotOf(list(), kTone0 + 1);
    const QString name = tone1.value(QStringLiteral("name")).toString();

    const QString viaShort = importInto(QStringLiteral("tone:1"), path(QStringLiteral("a")));
    EXPECT_EQ(viaShort, path(QStringLiteral("a/TON_") + name + QStringLiteral(".kbx")));
    EXPECT_EQ(readFile(viaShort).size(), 124);

    const QString viaPath =
        importInto(tone1.value(QStringLiteral("path")).toString(), path(QStringLiteral("b")));
    EXPECT_EQ(readFile(viaPath), readFile(viaShort));

    const QJsonObject reg = slotOf(list(), 20 + 4 + 1); // Bank1, number 1
    const QString viaReg = importInto(QStringLiteral("REG:1:1"), path(QStringLiteral("c")));
    EXPECT_EQ(viaReg, path(QStringLiteral("c/REG_") + reg.value(QStringLiteral("name")).toString() +
                           QStringLiteral(".kbx")));
}

TEST_F(KbxToolTest, importWritesIntoTheCurrentFolderAndDescribesTheFileInJson) {
    const Outcome r =
        kbx({QStringLiteral("--json"), QStringLiteral("import"), QStringLiteral("song:0")});
    ASSERT_EQ(r.status, 0) << r;
    const QJsonObject file = r.json();
    const QJsonObject song = slotOf(list(), kSong0);
    const QString name = song.value(QStringLiteral("name")).toString();
    EXPECT_EQ(file.value(QStringLiteral("path")).toString(),
              path(QStringLiteral("SNG_") + name + QStringLiteral(".kbx")));
    EXPECT_EQ(file.value(QStringLiteral("kind")).toString(), QStringLiteral("song"));
    EXPECT_EQ(file.value(QStringLiteral("size")).toInt(),
              song.value(QStringLiteral("size")).toInt());
    EXPECT_EQ(file.value(QStringLiteral("name")).toString(), name);
    EXPECT_EQ(readFile(file.value(QStringLiteral("path")).toString()).size(),
              64 + song.value(QStringLiteral("size")).toInt());
}

TEST_F(KbxToolTest, importOfAnEmptySlotFailsWithOneLine) {
    const Outcome r = kbx({QStringLiteral("import"), QStringLiteral("song:1")});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.errLines().size(), 1) << r;
    EXPECT_TRUE(r.err.contains(QStringLiteral("is empty"))) << r;
    EXPECT_TRUE(QDir(m_home.path()).entryList({QStringLiteral("*.kbx")}).isEmpty());

    // Deleting it again says so instead of claiming a delete.
    const Outcome again = kbx({QStringLiteral("delete"), QStringLiteral("song:1")});
    EXPECT_EQ(again.status, 0) << again;
    EXPECT_TRUE(again.out.startsWith(QStringLiteral("Nothing to delete"))) << again;
}

// ---- --trace ----------------------------------------------------------------------------------

TEST_F(KbxToolTest, traceShowsEveryMessageOnStderrWithItsWords) {
    const Outcome r = kbx({QStringLiteral("--trace"), QStringLiteral("import"),
                           QStringLiteral("song:0"), path(QStringLiteral("."))});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out.count(u'\n'), 1) << r; // stdout: the file's path alone
    const QStringList lines = r.errLines();
    // The list first (54 requests, 54 replies), then the transfer.
    ASSERT_GT(lines.size(), 108) << r;
    const QRegularExpression format(
        QStringLiteral("^(\\d+\\.\\d) ([<>]) ((?:[0-9A-F]{2} )*[0-9A-F]{2})  (\\S.*)$"));
    double last = 0;
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = format.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        // One clock for the whole command.
        EXPECT_GE(m.captured(1).toDouble(), last) << line.toStdString();
        last = m.captured(1).toDouble();
    }
    const auto withoutTime = [&](int i) { return lines[i].section(u' ', 1); };
    EXPECT_EQ(withoutTime(0),
              QStringLiteral("> F0 44 11 01 7F 10 00 0D 00 00 00 F7  keyboard-type request"));
    EXPECT_EQ(withoutTime(1), QStringLiteral("< F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7  "
                                             "parameter value: 0 (keyboard type)"));
    EXPECT_EQ(withoutTime(108),
              QStringLiteral("> F0 44 11 01 7F 5A 00 00 00 00 00 F7  data request, song 0"));
    EXPECT_TRUE(lines[109].endsWith(u"  data block 0, 128 bytes, song 0")) << r;
    EXPECT_EQ(
        withoutTime(static_cast<int>(lines.size()) - 1),
        QStringLiteral("< F0 44 11 01 7F 7A 00 00 00 00 00 F7  handshake 0 (end of transfer)"));
}

TEST_F(KbxToolTest, traceEndsWithTheLastMessageAndLeavesTheErrorLineToKbxtool) {
    // An empty slot is refused from the list, before anything is asked of it (the trace's own
    // "! error" lines for refusals on the wire are tested with the trace itself).
    const Outcome r = kbx({QStringLiteral("--trace"), QStringLiteral("import"),
                           QStringLiteral("song:1"), path(QStringLiteral("."))});
    EXPECT_EQ(r.status, 1) << r;
    const QStringList lines = r.errLines();
    ASSERT_GE(lines.size(), 3) << r;
    EXPECT_TRUE(lines[lines.size() - 2].section(u' ', 1).startsWith(u"< ")) << r;
    EXPECT_FALSE(lines[lines.size() - 2].contains(u"! ")) << r;
    EXPECT_TRUE(lines.last().endsWith(u"is empty: there is nothing to import.")) << r;
    // Without --trace the same failure is the one line.
    EXPECT_EQ(kbx({QStringLiteral("import"), QStringLiteral("song:1")}).errLines().size(), 1);
}

// ---- send -------------------------------------------------------------------------------------

TEST_F(KbxToolTest, sendWritesTheFileIntoTheSlot) {
    const QString file = path(QStringLiteral("piano.kbx"));
    writeFile(file, kbxFile(2, named(60, 36, "Piano")));

    const Outcome human = kbx({QStringLiteral("send"), file, QStringLiteral("tone:4")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("tone:4"))) << human;
    EXPECT_EQ(slotOf(list(), kTone0 + 4).value(QStringLiteral("name")).toString(),
              QStringLiteral("Piano   "));

    writeFile(file, kbxFile(2, named(60, 36, "Organ")));
    const Outcome json = kbx({QStringLiteral("--json"), QStringLiteral("send"), file,
                              QStringLiteral("Tone:\\Piano   ")});
    ASSERT_EQ(json.status, 0) << json;
    const QJsonObject slot = json.json().value(QStringLiteral("slot")).toObject();
    EXPECT_EQ(slot.value(QStringLiteral("path")).toString(), QStringLiteral("Tone:\\Organ   "));
    EXPECT_EQ(slot.value(QStringLiteral("number")).toInt(), 4);
    EXPECT_TRUE(slot.value(QStringLiteral("present")).toBool());
    EXPECT_EQ(json.json().value(QStringLiteral("file")).toString(), file);
    EXPECT_EQ(slotOf(list(), kTone0 + 4).value(QStringLiteral("name")).toString(),
              QStringLiteral("Organ   "));
}

TEST_F(KbxToolTest, sendReachesTheRightSlotWhenNamesRepeat) {
    const QString file = path(QStringLiteral("twin.kbx"));
    writeFile(file, kbxFile(2, named(60, 36, "Twin")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:6")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:8")}).status, 0);
    writeFile(file, kbxFile(2, named(60, 36, "Other")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:8")}).status, 0);
    const QJsonObject after = list();
    EXPECT_EQ(slotOf(after, kTone0 + 6).value(QStringLiteral("name")).toString(),
              QStringLiteral("Twin    "));
    EXPECT_EQ(slotOf(after, kTone0 + 8).value(QStringLiteral("name")).toString(),
              QStringLiteral("Other   "));
}

TEST_F(KbxToolTest, sendRefusesAForeignFileInBothForms) {
    const QString file = path(QStringLiteral("notes.txt"));
    writeFile(file, "Just some text, long enough to fill a header of sixty-four bytes or more.\n");
    const QJsonObject before = list();

    expectFailure(kbx({QStringLiteral("send"), file, QStringLiteral("tone:1")}),
                  QStringLiteral("No KBX file"));
    expectJsonError(
        kbx({QStringLiteral("send"), file, QStringLiteral("tone:1"), QStringLiteral("--json")}),
        QStringLiteral("KbxStreamException"), 0, QStringLiteral("No KBX file"));
    EXPECT_EQ(list(), before);
}

TEST_F(KbxToolTest, sendRefusesAKindMismatch) {
    const QString file = path(QStringLiteral("dsp.kbx"));
    writeFile(file, kbxFile(9, named(36, 0, "Echo")));
    const QJsonObject before = list();
    expectFailure(kbx({QStringLiteral("send"), file, QStringLiteral("tone:2")}),
                  QStringLiteral("Data type is different"));
    expectJsonError(
        kbx({QStringLiteral("--json"), QStringLiteral("send"), file, QStringLiteral("tone:2")}),
        QStringLiteral("KbxStreamException"), 1, QStringLiteral("Data type is different"));
    EXPECT_EQ(list(), before);
}

TEST_F(KbxToolTest, sendRefusesASongLargerThanTheFreeMemory) {
    const QString file = path(QStringLiteral("huge.kbx"));
    writeFile(file, kbxFile(10, named(21504, 4, "Huge")));
    const QJsonObject before = list();
    expectFailure(kbx({QStringLiteral("send"), file, QStringLiteral("song:0")}),
                  QStringLiteral("Not enough memory"));
    expectJsonError(
        kbx({QStringLiteral("--json"), QStringLiteral("send"), file, QStringLiteral("song:0")}),
        QStringLiteral("KbxStreamException"), 2, QStringLiteral("Not enough memory"));
    EXPECT_EQ(list(), before); // the old song was not deleted
}

// ---- delete -----------------------------------------------------------------------------------

TEST_F(KbxToolTest, deleteEmptiesASongOrARhythm) {
    ASSERT_TRUE(slotOf(list(), kSong0).value(QStringLiteral("present")).toBool());
    const Outcome human = kbx({QStringLiteral("delete"), QStringLiteral("song:0")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("song:0"))) << human;

    const Outcome json =
        kbx({QStringLiteral("--json"), QStringLiteral("delete"),
             QStringLiteral("Song Rhythm:\\Rhythm\\") +
                 slotOf(list(), kRhythm0).value(QStringLiteral("name")).toString()});
    ASSERT_EQ(json.status, 0) << json;
    const QJsonObject slot = json.json().value(QStringLiteral("slot")).toObject();
    EXPECT_EQ(slot.value(QStringLiteral("name")).toString(), QStringLiteral("User 0"));
    EXPECT_FALSE(slot.value(QStringLiteral("present")).toBool());

    const QJsonObject after = list();
    EXPECT_FALSE(slotOf(after, kSong0).value(QStringLiteral("present")).toBool());
    EXPECT_EQ(slotOf(after, kSong0).value(QStringLiteral("name")).toString(),
              QStringLiteral("Song 0"));
    EXPECT_FALSE(slotOf(after, kRhythm0).value(QStringLiteral("present")).toBool());
    EXPECT_EQ(after.value(QStringLiteral("folders"))
                  .toArray()[7]
                  .toObject()
                  .value(QStringLiteral("freeSpace"))
                  .toInt(),
              21504);
}

TEST_F(KbxToolTest, deleteOfAToneIsAUsageError) {
    const QJsonObject before = list();
    expectUsageError(kbx({QStringLiteral("delete"), QStringLiteral("tone:0")}));
    expectUsageError(kbx({QStringLiteral("delete"),
                          slotOf(before, kDsp0).value(QStringLiteral("path")).toString()}));
    EXPECT_EQ(list(), before);
}

// ---- info and rename --------------------------------------------------------------------------

TEST_F(KbxToolTest, infoShowsKindSizeAndNameInBothForms) {
    const QString file = path(QStringLiteral("r.kbx"));
    writeFile(file, kbxFile(11, named(100, 2, "Samba")));
    const Outcome human = run({QStringLiteral("info"), file});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("Kind: Rhythm"))) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("Size: 100 bytes"))) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("Name: \"Samba   \""))) << human;

    const Outcome json = run({QStringLiteral("info"), QStringLiteral("--json"), file});
    ASSERT_EQ(json.status, 0) << json;
    const QJsonObject doc = json.json();
    EXPECT_EQ(doc.value(QStringLiteral("path")).toString(), file);
    EXPECT_EQ(doc.value(QStringLiteral("kind")).toString(), QStringLiteral("rhythm"));
    EXPECT_EQ(doc.value(QStringLiteral("size")).toInt(), 100);
    EXPECT_EQ(doc.value(QStringLiteral("name")).toString(), QStringLiteral("Samba   "));
}

TEST_F(KbxToolTest, infoOfAMissingOrForeignFileFails) {
    const Outcome missing =
        run({QStringLiteral("--json"), QStringLiteral("info"), path("none.kbx")});
    EXPECT_EQ(missing.status, 1) << missing;
    const QJsonObject error = missing.json().value(QStringLiteral("error")).toObject();
    EXPECT_EQ(error.value(QStringLiteral("class")).toString(), QStringLiteral("general"));
    EXPECT_TRUE(error.value(QStringLiteral("code")).isNull());
    EXPECT_TRUE(
        error.value(QStringLiteral("message")).toString().contains(QStringLiteral("none.kbx")));

    const QString foreign = path(QStringLiteral("short.kbx"));
    writeFile(foreign, "VELMO Music Lib"); // no zero byte, no header
    expectFailure(run({QStringLiteral("info"), foreign}), QStringLiteral("No KBX file"));
}

TEST_F(KbxToolTest, renameWritesTheNameIntoTheDataOnly) {
    const QString file = path(QStringLiteral("TON_Old.kbx"));
    const QByteArray original = kbxFile(2, named(60, 36, "Old"));
    writeFile(file, original);

    const Outcome r =
        run({QStringLiteral("--json"), QStringLiteral("rename"), file, QStringLiteral("New~One")});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().value(QStringLiteral("name")).toString(), QStringLiteral("New_One "));
    QByteArray expected = original;
    expected.replace(100, 8, "New_One ");
    EXPECT_EQ(readFile(file), expected);
    EXPECT_TRUE(QFile::exists(file)); // the file keeps its file name

    const Outcome human = run({QStringLiteral("rename"), file, QStringLiteral("Reg")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("Name: \"Reg     \""))) << human;

    expectUsageError(run({QStringLiteral("rename"), file, QStringLiteral("NineChars")}));
    expectUsageError(run({QStringLiteral("rename"), file, QString()}));
}

TEST_F(KbxToolTest, renameOfARegistrationSwapsThePairsInTheHeader) {
    const QString file = path(QStringLiteral("reg.kbx"));
    writeFile(file, kbxFile(12, QByteArray(176, '\0')));
    const Outcome r = run({QStringLiteral("rename"), file, QStringLiteral("Preset01")});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(readFile(file).mid(24, 8), QByteArray("rPsete10"));
}

// ---- names that file names do not allow -------------------------------------------------------

TEST_F(KbxToolTest, importedFileNamesStayInTheirFolder) {
    const QString file = path(QStringLiteral("odd.kbx"));
    const QString dir = path(QStringLiteral("imports"));
    const auto in = [&](const QString& name) {
        return QDir::toNativeSeparators(QDir(dir).filePath(name));
    };

    writeFile(file, kbxFile(2, named(60, 36, "x")));
    ASSERT_EQ(run({QStringLiteral("rename"), file, QStringLiteral("a/b\\c:*<")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:5")}).status, 0);
    EXPECT_EQ(importInto(QStringLiteral("tone:5"), dir), in(QStringLiteral("TON_a_b_c___.kbx")));

    ASSERT_EQ(run({QStringLiteral("rename"), file, QStringLiteral("..")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:6")}).status, 0);
    EXPECT_EQ(importInto(QStringLiteral("tone:6"), dir), in(QStringLiteral("TON_..      .kbx")));

    // Bytes that rename cannot type: a control character, a byte without a character, a
    // half-width katakana, and the characters ? and |.
    writeFile(file, kbxFile(11, named(40, 2, QByteArray("\x01\x80\xB1?|ab ", 8))));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("rhythm:3")}).status, 0);
    EXPECT_EQ(importInto(QStringLiteral("rhythm:3"), dir),
              in(QStringLiteral("RHY___") + QChar(0xFF71) + QStringLiteral("__ab .kbx")));

    const QStringList made = QDir(dir).entryList(QDir::Files);
    EXPECT_EQ(made.size(), 3) << made.join(u',').toStdString();
    EXPECT_EQ(QDir(m_home.path()).entryList({QStringLiteral("TON_*")}), QStringList());
}

// ---- usage, devices, settings, language -------------------------------------------------------

TEST_F(KbxToolTest, usageErrorsExitTwoWithAUsageLine) {
    const QList<QStringList> cases{
        {},
        {QStringLiteral("frobnicate")},
        {QStringLiteral("send"), QStringLiteral("only-a-file.kbx")},
        {QStringLiteral("list"), QStringLiteral("extra")},
        {QStringLiteral("--bogus"), QStringLiteral("list")},
        {QStringLiteral("import"), QStringLiteral("tone:99")},
        {QStringLiteral("import"), QStringLiteral("tone:x")},
        {QStringLiteral("import"), QStringLiteral("Tone:\\No Such")},
        {QStringLiteral("--in"), QStringLiteral("0"), QStringLiteral("list")},
        {QStringLiteral("history"), QStringLiteral("bogus")},
        {QStringLiteral("history"), QStringLiteral("export"), QStringLiteral("1")},
        {QStringLiteral("history"), QStringLiteral("restore"), QStringLiteral("one")},
        {QStringLiteral("history"), QStringLiteral("restore"), QStringLiteral("0")},
        {QStringLiteral("undo"), QStringLiteral("song:0")},
        {QStringLiteral("ping"), QStringLiteral("--count"), QStringLiteral("0")},
        {QStringLiteral("ping"), QStringLiteral("--count=many")},
        {QStringLiteral("list"), QStringLiteral("--save")},
    };
    for (const QStringList& args : cases)
        expectUsageError(kbx(args));
    expectUsageError(run({QStringLiteral("--json")}));
}

TEST_F(KbxToolTest, helpAndVersionExitZero) {
    const Outcome help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0) << help;
    for (const char* command :
         {"devices", "list", "import SLOT [DIR]", "send FILE SLOT", "delete SLOT", "info FILE",
          "rename FILE NAME", "backup DIR", "restore DIR", "emulate [--name NAME] [--state FILE]",
          "undo", "history export ID DIR", "history restore ID", "--no-history", "--verify"})
        EXPECT_TRUE(help.out.contains(QLatin1String(command))) << command;
    EXPECT_EQ(run({QStringLiteral("--version")}).status, 0);
}

TEST_F(KbxToolTest, unknownOrAmbiguousDeviceListsTheDevices) {
    const Outcome r =
        run({QStringLiteral("--in"), QStringLiteral("no such device"), QStringLiteral("list")});
    expectUsageError(r);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Virtual ZR-7316"))) << r;
    expectUsageError(run({QStringLiteral("--out"), QStringLiteral("5"), QStringLiteral("list")}));
}

TEST_F(KbxToolTest, devicesComeFromKbxmansSettingsOrAByName) {
    // Without options and settings: device 0, the built-in keyboard here, keeping its memory in
    // its usual file below this test's home.
    const Outcome plain = run({QStringLiteral("--json"), QStringLiteral("list")});
    ASSERT_EQ(plain.status, 0) << plain;
    ASSERT_EQ(run({QStringLiteral("delete"), QStringLiteral("song:0")}).status, 0);
    EXPECT_FALSE(slotOf(run({QStringLiteral("--json"), QStringLiteral("list")}).json(), kSong0)
                     .value(QStringLiteral("present"))
                     .toBool());
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("data/Tovanel/KbxMan")))) << "state file";

    const Outcome named = run({QStringLiteral("--in"), QStringLiteral("virtual"),
                               QStringLiteral("--out=VIRTUAL ZR"), QStringLiteral("list")});
    EXPECT_EQ(named.status, 0) << named;

    QDir().mkpath(path(QStringLiteral("config/Tovanel")));
    writeFile(path(QStringLiteral("config/Tovanel/KbxMan.conf")),
              "[MIDI]\nInputDevice=7\nOutputDevice=0\n");
    const Outcome configured = run({QStringLiteral("--json"), QStringLiteral("list")});
    EXPECT_EQ(configured.status, 1) << configured; // device 7 does not exist here
    EXPECT_EQ(configured.json()
                  .value(QStringLiteral("error"))
                  .toObject()
                  .value(QStringLiteral("class"))
                  .toString(),
              QStringLiteral("general"));
    EXPECT_EQ(run({QStringLiteral("--in"), QStringLiteral("0"), QStringLiteral("list")}).status, 0);
}

TEST_F(KbxToolTest, aStoredDeviceWhoseNumberMovedIsFoundByNameAndStoredAgain) {
    QDir().mkpath(path(QStringLiteral("config/Tovanel")));
    // Stored when two more devices were listed before the keyboard.
    writeFile(settingsFile(), "[MIDI]\nInputDevice=2\nOutputDevice=2\n"
                              "InputDeviceName=Virtual ZR-7316\nOutputDeviceName=Virtual ZR-7316\n"
                              "[Directory]\nDefault=/music/\n");
    const Outcome r = run({QStringLiteral("--json"), QStringLiteral("list")});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().value(QStringLiteral("model")).toString(), QStringLiteral("ZR-7316"));
    const QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("MIDI/InputDevice")).toInt(), 0);
    EXPECT_EQ(stored.value(QStringLiteral("MIDI/OutputDevice")).toInt(), 0);
    EXPECT_EQ(stored.value(QStringLiteral("MIDI/InputDeviceName")).toString(),
              QStringLiteral("Virtual ZR-7316"));
    EXPECT_EQ(stored.value(QStringLiteral("Directory/Default")).toString(),
              QStringLiteral("/music/"));
}

TEST_F(KbxToolTest, aStoredDeviceThatIsGoneIsNamedInsteadOfOpeningAnother) {
    QDir().mkpath(path(QStringLiteral("config/Tovanel")));
    writeFile(settingsFile(), "[MIDI]\nInputDevice=0\nOutputDevice=0\n"
                              "InputDeviceName=USB MIDI Interface\n");
    const Outcome r = run({QStringLiteral("list")});
    expectFailure(r, QStringLiteral("The MIDI device \"USB MIDI Interface\" is not connected."));
    const Outcome json =
        run({QStringLiteral("--json"), QStringLiteral("delete"), QStringLiteral("song:0")});
    expectJsonError(json, QStringLiteral("general"), -1,
                    QStringLiteral("The MIDI device \"USB MIDI Interface\" is not connected."));
    if (kLanguageFromLocaleVariables) {
        m_locale = QStringLiteral("ja_JP.UTF-8");
        const Outcome japanese = run({QStringLiteral("list")});
        expectFailure(japanese,
                      QStringLiteral("MIDI デバイス「USB MIDI Interface」が接続されていません。"));
    }
    // The device list is what one then looks at to choose another: it lists, marking nothing.
    const Outcome listing = run({QStringLiteral("devices")});
    EXPECT_EQ(listing.status, 0) << listing.err.toStdString();
    EXPECT_FALSE(listing.out.contains(QStringLiteral("*  0"))) << listing.out.toStdString();
    // The keyboard was never asked: its song is still there.
    m_locale = QStringLiteral("C");
    EXPECT_TRUE(slotOf(run({QStringLiteral("--in"), QStringLiteral("0"), QStringLiteral("--out"),
                            QStringLiteral("0"), QStringLiteral("--json"), QStringLiteral("list")})
                           .json(),
                       kSong0)
                    .value(QStringLiteral("present"))
                    .toBool());
    // An option for the missing side leaves the stored one unasked.
    EXPECT_EQ(run({QStringLiteral("--in"), QStringLiteral("0"), QStringLiteral("list")}).status, 0);
}

TEST_F(KbxToolTest, olderSettingsWithoutNamesUseTheirNumbersAsBefore) {
    QDir().mkpath(path(QStringLiteral("config/Tovanel")));
    writeFile(settingsFile(), "[MIDI]\nInputDevice=0\nOutputDevice=0\n");
    EXPECT_EQ(run({QStringLiteral("list")}).status, 0);
    const QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_FALSE(stored.contains(QStringLiteral("MIDI/InputDeviceName"))); // nothing added
}

// ---- detect and ping --------------------------------------------------------------------------

TEST_F(KbxToolTest, detectReportsTheVirtualKeyboardAsSuchAndSavesOnlyWhenAsked) {
    const Outcome human = run({QStringLiteral("detect")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("only kbxman's built-in virtual ZR-7316")))
        << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("input   0  Virtual ZR-7316"))) << human;
    EXPECT_FALSE(QFile::exists(settingsFile()));

    const Outcome json =
        run({QStringLiteral("--json"), QStringLiteral("detect"), QStringLiteral("--save")});
    ASSERT_EQ(json.status, 0) << json;
    const QJsonObject document = json.json();
    EXPECT_EQ(document.keys(), (QStringList{"input", "output", "tried", "virtual"}));
    for (const char* side : {"input", "output"}) {
        const QJsonObject device = document.value(QLatin1String(side)).toObject();
        EXPECT_EQ(device.keys(), (QStringList{"name", "number"}));
        EXPECT_EQ(device.value(QStringLiteral("number")).toInt(-1), 0);
        EXPECT_EQ(device.value(QStringLiteral("name")).toString(),
                  QStringLiteral("Virtual ZR-7316"));
    }
    EXPECT_TRUE(document.value(QStringLiteral("virtual")).toBool());
    EXPECT_EQ(document.value(QStringLiteral("tried")).toInt(), 1);

    const QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("MIDI/InputDevice")).toString(), QStringLiteral("0"));
    EXPECT_EQ(stored.value(QStringLiteral("MIDI/OutputDeviceName")).toString(),
              QStringLiteral("Virtual ZR-7316"));
    expectUsageError(run({QStringLiteral("--in"), QStringLiteral("0"), QStringLiteral("detect")}));
}

TEST_F(KbxToolTest, pingReportsRoundTripsInTheAgreedShape) {
    const Outcome json = kbx({QStringLiteral("--json"), QStringLiteral("ping"),
                              QStringLiteral("--count"), QStringLiteral("3")});
    ASSERT_EQ(json.status, 0) << json;
    const QJsonObject document = json.json();
    EXPECT_EQ(document.keys(), (QStringList{"answered", "max_ms", "median_ms", "min_ms", "sent"}));
    EXPECT_EQ(document.value(QStringLiteral("sent")).toInt(), 3);
    EXPECT_EQ(document.value(QStringLiteral("answered")).toInt(), 3);
    EXPECT_LE(document.value(QStringLiteral("min_ms")).toDouble(-1),
              document.value(QStringLiteral("median_ms")).toDouble());
    EXPECT_LE(document.value(QStringLiteral("median_ms")).toDouble(),
              document.value(QStringLiteral("max_ms")).toDouble());

    const Outcome human = kbx({QStringLiteral("ping")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(human.out.contains(QStringLiteral("10/10  "))) << human; // ten by default
    EXPECT_TRUE(human.out.contains(QStringLiteral("10 of 10 requests answered; round trip min")))
        << human;
    EXPECT_TRUE(human.err.isEmpty()) << human;
}

TEST_F(KbxToolTest, messagesFollowTheUsersLanguage) {
    if (!kLanguageFromLocaleVariables)
        GTEST_SKIP() << "the locale variables do not choose the language on Windows";
    const QString file = path(QStringLiteral("text.kbx"));
    writeFile(file, QByteArray(100, 'x'));
    m_locale = QStringLiteral("ja_JP.UTF-8");
    const Outcome japanese = run({QStringLiteral("info"), file});
    EXPECT_EQ(japanese.status, 1) << japanese;
    EXPECT_EQ(japanese.errLines().size(), 1) << japanese;
    EXPECT_NE(japanese.err.trimmed(), QStringLiteral("No KBX file")) << japanese;
}

// ---- emulate ----------------------------------------------------------------------------------

TEST_F(KbxToolTest, emulateServesUntilTerminatedOrSaysWhyItCannot) {
    // No JACK server of this test's name runs; where ALSA is there, the ports open there.
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), QStringLiteral("kbxtool-test-none"));
    env.insert(QStringLiteral("JACK_NO_START_SERVER"), QStringLiteral("1"));
    const QString state = path(QStringLiteral("emulated.state"));
    QProcess process;
    process.setProgram(QStringLiteral(KBXTOOL_PATH));
    process.setArguments({QStringLiteral("emulate"), QStringLiteral("--state"), state,
                          QStringLiteral("--name"), QStringLiteral("kbxtool test")});
    process.setProcessEnvironment(env);
    process.start();
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    while (!out.contains("output:") && process.state() == QProcess::Running)
        if (process.waitForReadyRead(10000))
            out += process.readAllStandardOutput();
    if (process.state() == QProcess::Running) {
        EXPECT_TRUE(out.contains("kbxtool test")) << out.toStdString();
        process.terminate(); // SIGTERM
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_TRUE(QFile::exists(state)); // saved on the way out
    } else {
        process.waitForFinished();
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
        EXPECT_EQ(err.split(u'\n', Qt::SkipEmptyParts).size(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("No MIDI system could publish")))
            << err.toStdString();
    }
}

// ---- backup and restore -----------------------------------------------------------------------

TEST_F(KbxToolTest, backupWipeRestoreGivesTheSameList) {
    // A keyboard that differs from the factory's: a new tone, no song, a second rhythm.
    const QString file = path(QStringLiteral("t.kbx"));
    writeFile(file, kbxFile(2, named(60, 36, "Mine")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:7")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("song:0")}).status, 0);
    writeFile(file, kbxFile(11, named(300, 2, "Tango")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("rhythm:2")}).status, 0);
    const QJsonObject before = list();

    const QString dir = path(QStringLiteral("backup/first"));
    const Outcome backup = kbx({QStringLiteral("--json"), QStringLiteral("backup"), dir});
    ASSERT_EQ(backup.status, 0) << backup;
    EXPECT_EQ(backup.json().value(QStringLiteral("files")).toArray().size(), 10 + 10 + 16 + 2);

    ASSERT_TRUE(QFile::remove(m_state)); // back to the factory's contents
    ASSERT_NE(list(), before);

    const Outcome restore = kbx({QStringLiteral("restore"), dir});
    ASSERT_EQ(restore.status, 0) << restore;
    EXPECT_TRUE(restore.err.isEmpty()) << restore;
    EXPECT_EQ(list(), before);
}

TEST_F(KbxToolTest, backupManifestNamesSlotsByShortForm) {
    const QString dir = path(QStringLiteral("bk"));
    const Outcome human = kbx({QStringLiteral("backup"), dir});
    ASSERT_EQ(human.status, 0) << human;
    const QJsonObject manifest =
        QJsonDocument::fromJson(readFile(QDir(dir).filePath(QStringLiteral("manifest.json"))))
            .object();
    EXPECT_EQ(manifest.value(QStringLiteral("model")).toString(), QStringLiteral("ZR-7316"));
    const QJsonObject files = manifest.value(QStringLiteral("files")).toObject();
    QStringList slotNames;
    for (auto it = files.begin(); it != files.end(); ++it) {
        slotNames.append(it.value().toString());
        EXPECT_TRUE(QFile::exists(QDir(dir).filePath(it.key()))) << it.key().toStdString();
    }
    for (const char* slot : {"tone:0", "tone:9", "dsp:4", "reg:0:0", "reg:3:3"})
        EXPECT_TRUE(slotNames.contains(QLatin1String(slot))) << slot;
    // Every blank tone gets a file of its own.
    EXPECT_EQ(QDir(dir).entryList({QStringLiteral("TON_*.kbx")}).size(), 10);
    EXPECT_EQ(files.size() + 1, QDir(dir).entryList(QDir::Files).size());
    const QJsonObject list = this->list();
    QStringList empty;
    for (const QJsonValue& v : manifest.value(QStringLiteral("empty")).toArray())
        empty.append(v.toString());
    for (int i = kSong0; i < 42; ++i) {
        const QJsonObject slot = slotOf(list, i);
        const QString shortForm = slot.value(QStringLiteral("kind")).toString() + u':' +
                                  QString::number(slot.value(QStringLiteral("number")).toInt());
        EXPECT_NE(slotNames.contains(shortForm), empty.contains(shortForm))
            << shortForm.toStdString();
    }
}

TEST_F(KbxToolTest, restoreFreesTheSongMemoryThatTheBackupFills) {
    const QJsonObject before = list();
    const QString dir = path(QStringLiteral("bk"));
    ASSERT_EQ(kbx({QStringLiteral("backup"), dir}).status, 0);

    // Nearly all song memory in a rhythm slot that the backup had empty.
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("song:0")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("rhythm:0")}).status, 0);
    const QString big = path(QStringLiteral("big.kbx"));
    writeFile(big, kbxFile(11, named(21000, 2, "Big")));
    ASSERT_EQ(kbx({QStringLiteral("send"), big, QStringLiteral("rhythm:2")}).status, 0);

    const Outcome r = kbx({QStringLiteral("--json"), QStringLiteral("restore"), dir});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(
        r.json().value(QStringLiteral("cleared")).toArray().contains(QStringLiteral("rhythm:2")))
        << r;
    EXPECT_TRUE(r.json().value(QStringLiteral("failed")).toArray().isEmpty()) << r;
    EXPECT_EQ(list(), before);
}

TEST_F(KbxToolTest, restoreReportsEachFailureAndGoesOn) {
    const QString dir = path(QStringLiteral("bk"));
    ASSERT_EQ(kbx({QStringLiteral("backup"), dir}).status, 0);
    const QString manifestPath = QDir(dir).filePath(QStringLiteral("manifest.json"));
    const QJsonObject files = QJsonDocument::fromJson(readFile(manifestPath))
                                  .object()
                                  .value(QStringLiteral("files"))
                                  .toObject();
    QString songFile;
    QString rhythmFile;
    QString toneFile;
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it.value().toString() == u"song:0")
            songFile = it.key();
        if (it.value().toString() == u"rhythm:0")
            rhythmFile = it.key();
        if (it.value().toString() == u"tone:0")
            toneFile = it.key();
    }
    ASSERT_FALSE(songFile.isEmpty());
    ASSERT_FALSE(rhythmFile.isEmpty());
    writeFile(path(QStringLiteral("outside.kbx")), kbxFile(2, named(60, 36, "Outside")));

    // A hand-made manifest: no empty slotNames named, and entries that cannot be restored.
    QJsonObject edited;
    edited.insert(songFile, QStringLiteral("song:0"));
    edited.insert(rhythmFile, QStringLiteral("rhythm:0"));
    edited.insert(toneFile, QStringLiteral("dsp:2")); // another kind
    edited.insert(QStringLiteral("missing.kbx"), QStringLiteral("tone:9"));
    edited.insert(QStringLiteral("../outside.kbx"), QStringLiteral("tone:8"));
    QJsonObject manifest;
    manifest.insert(QStringLiteral("model"), QStringLiteral("ZR-7316"));
    manifest.insert(QStringLiteral("files"), edited);
    writeFile(manifestPath, QJsonDocument(manifest).toJson());

    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("song:0")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("rhythm:0")}).status, 0);
    const QString big = path(QStringLiteral("big.kbx"));
    writeFile(big, kbxFile(11, named(21000, 2, "Big")));
    ASSERT_EQ(kbx({QStringLiteral("send"), big, QStringLiteral("rhythm:2")}).status, 0);
    const QJsonObject before = list();

    const Outcome json = kbx({QStringLiteral("--json"), QStringLiteral("restore"), dir});
    EXPECT_EQ(json.status, 1) << json;
    const QJsonObject doc = json.json();
    const QJsonArray restored = doc.value(QStringLiteral("restored")).toArray();
    ASSERT_EQ(restored.size(), 1) << json;
    EXPECT_EQ(restored[0].toObject().value(QStringLiteral("slot")).toString(),
              QStringLiteral("rhythm:0"));
    QMap<QString, QJsonObject> failures;
    for (const QJsonValue& f : doc.value(QStringLiteral("failed")).toArray())
        failures.insert(f.toObject().value(QStringLiteral("slot")).toString(),
                        f.toObject().value(QStringLiteral("error")).toObject());
    ASSERT_EQ(failures.size(), 4) << json;
    EXPECT_EQ(failures[QStringLiteral("song:0")].value(QStringLiteral("code")).toInt(), 2);
    EXPECT_EQ(failures[QStringLiteral("dsp:2")].value(QStringLiteral("code")).toInt(), 1);
    EXPECT_EQ(failures[QStringLiteral("tone:9")].value(QStringLiteral("class")).toString(),
              QStringLiteral("general"));
    EXPECT_EQ(failures[QStringLiteral("tone:8")].value(QStringLiteral("class")).toString(),
              QStringLiteral("general"));
    EXPECT_FALSE(doc.value(QStringLiteral("error")).toObject().isEmpty());

    const QJsonObject after = list();
    EXPECT_EQ(slotOf(after, kTone0 + 8), slotOf(before, kTone0 + 8)); // nothing from outside
    EXPECT_EQ(slotOf(after, kDsp0 + 2), slotOf(before, kDsp0 + 2));
    EXPECT_TRUE(slotOf(after, kRhythm0 + 2).value(QStringLiteral("present")).toBool());

    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("rhythm:0")}).status, 0);
    const Outcome human = kbx({QStringLiteral("restore"), dir});
    EXPECT_EQ(human.status, 1) << human;
    EXPECT_EQ(human.errLines().size(), 4) << human;
}

// ---- interruptions ---------------------------------------------------------------------------

TEST_F(KbxToolTest, backupInterruptedBySigintExits130WithWholeFilesAndAnIncompleteManifest) {
    const QString dir = path(QStringLiteral("bk"));
    // Once the first item is written: the list is done, thirty-odd items are still to come.
    const Outcome r = interrupted({QStringLiteral("backup"), dir}, SIGINT,
                                  [](const QByteArray& out) { return out.contains('\n'); });
    if (m_noConsoleEvent)
        GTEST_SKIP() << "Wine: GenerateConsoleCtrlEvent reaches no process group";
    EXPECT_EQ(r.status, 130) << r;
    EXPECT_EQ(r.errLines(), QStringList{QStringLiteral("Cancelled.")}) << r;
    EXPECT_TRUE(r.out.contains(QStringLiteral("Not backed up: "))) << r;

    const QJsonObject manifest =
        QJsonDocument::fromJson(readFile(QDir(dir).filePath(QStringLiteral("manifest.json"))))
            .object();
    EXPECT_EQ(manifest.value(QStringLiteral("complete")), QJsonValue(false));
    const QJsonObject files = manifest.value(QStringLiteral("files")).toObject();
    const QJsonArray notDone = manifest.value(QStringLiteral("notDone")).toArray();
    EXPECT_GE(files.size(), 1);
    EXPECT_GE(notDone.size(), 1);
    EXPECT_EQ(files.size() + notDone.size(), 38); // the factory keyboard's present items
    // Nothing half-written: each file holds the whole item its header announces, and the folder
    // holds nothing else.
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QByteArray bytes = readFile(QDir(dir).filePath(it.key()));
        ASSERT_GE(bytes.size(), 64) << it.key().toStdString();
        const qint64 announced = (qint64(quint8(bytes[16])) << 24) | (quint8(bytes[17]) << 16) |
                                 (quint8(bytes[18]) << 8) | quint8(bytes[19]);
        EXPECT_EQ(bytes.size(), 64 + announced) << it.key().toStdString();
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), files.size() + 1);

    // What it holds can be restored; the rest of the keyboard is left as it is.
    const Outcome restore = kbx({QStringLiteral("--json"), QStringLiteral("restore"), dir});
    EXPECT_EQ(restore.status, 0) << restore;
    EXPECT_EQ(restore.json().value(QStringLiteral("backupComplete")), QJsonValue(false)) << restore;
    EXPECT_EQ(restore.json().value(QStringLiteral("restored")).toArray().size(), files.size());
}

#ifndef _WIN32
TEST_F(KbxToolTest, aSigtermDuringTheStartExits130WithNothingDone) {
    // Held back by this process's mask, which kbxtool inherits, the signal arrives at its start.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigset_t old;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &old), 0);
    QProcess process;
    process.setProgram(QStringLiteral(KBXTOOL_PATH));
    process.setArguments({QStringLiteral("--virtual=") + m_state, QStringLiteral("delete"),
                          QStringLiteral("song:0")});
    process.setProcessEnvironment(environment());
    process.start();
    const bool started = process.waitForStarted();
    if (started)
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130) << process.readAllStandardError().toStdString();
    // Song 0 is still there.
    const Outcome r = kbx({QStringLiteral("--json"), QStringLiteral("list")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("\"Minuet  \""))) << r;
}
#endif

TEST_F(KbxToolTest, restoreInterruptedBySigtermExits130AndReportsWhatItDid) {
    const QString dir = path(QStringLiteral("bk"));
    ASSERT_EQ(kbx({QStringLiteral("backup"), dir}).status, 0);
    const QJsonObject before = list();
    const QString file = path(QStringLiteral("t.kbx"));
    writeFile(file, kbxFile(2, named(60, 36, "Mine")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("tone:7")}).status, 0);

    // Once the keyboard's memory has first changed: the song the backup fills is deleted first.
    const QDateTime written = QFileInfo(m_state).lastModified();
    const Outcome r = interrupted(
        {QStringLiteral("--json"), QStringLiteral("restore"), dir}, SIGTERM,
        [&](const QByteArray&) { return QFileInfo(m_state).lastModified() != written; });
    if (m_noConsoleEvent)
        GTEST_SKIP() << "Wine: GenerateConsoleCtrlEvent reaches no process group";
    EXPECT_EQ(r.status, 130) << r;
    const QJsonObject doc = r.json();
    EXPECT_EQ(doc.value(QStringLiteral("cancelled")), QJsonValue(true)) << r;
    const QJsonObject error = doc.value(QStringLiteral("error")).toObject();
    EXPECT_EQ(error.value(QStringLiteral("class")).toString(),
              QStringLiteral("ZxCancelledException"));
    EXPECT_EQ(error.value(QStringLiteral("message")).toString(), QStringLiteral("Cancelled."));
    const qsizetype restored = doc.value(QStringLiteral("restored")).toArray().size();
    const qsizetype notDone = doc.value(QStringLiteral("notDone")).toArray().size();
    EXPECT_GE(notDone, 1) << r;
    EXPECT_EQ(restored + notDone, 38) << r;

    // The ports were closed and nothing half-sent stays in the way: the whole restore runs.
    const Outcome again = kbx({QStringLiteral("restore"), dir});
    EXPECT_EQ(again.status, 0) << again;
    EXPECT_EQ(list(), before);
}

TEST_F(KbxToolTest, restoreWithoutAManifestFails) {
    QDir().mkpath(path(QStringLiteral("empty")));
    const Outcome r = kbx({QStringLiteral("restore"), path(QStringLiteral("empty"))});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.errLines().size(), 1) << r;
    writeFile(path(QStringLiteral("empty/manifest.json")), "[1, 2]");
    expectJsonError(
        kbx({QStringLiteral("--json"), QStringLiteral("restore"), path(QStringLiteral("empty"))}),
        QStringLiteral("general"), -1,
        QStringLiteral("\"") + path(QStringLiteral("empty/manifest.json")) +
            QStringLiteral("\" is not a backup manifest"));
}

} // namespace

// ---- the history, undo and verified sends ----------------------------------------------------

namespace {

QStringList keysOf(const QJsonObject& object) {
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

QString sha256Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

TEST_F(KbxToolTest, historyJsonListsEachChangeNewestFirstWithTheItemsAndTheDevices) {
    const QString file = path(QStringLiteral("waltz.kbx"));
    writeFile(file, kbxFile(10, named(420, 4, "Waltz")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("song:0")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("rhythm:0")}).status, 0);

    const Outcome r = run({QStringLiteral("--json"), QStringLiteral("history")});
    ASSERT_EQ(r.status, 0) << r;
    const QJsonArray entries = r.json().value(QStringLiteral("entries")).toArray();
    ASSERT_EQ(entries.size(), 2) << r;
    const QJsonObject removed = entries[0].toObject();
    const QJsonObject sent = entries[1].toObject();
    const QStringList contract{"after", "before",    "devices", "group", "id",
                               "kind",  "operation", "slot",    "time",  "undone"};
    EXPECT_EQ(keysOf(sent), contract);
    EXPECT_EQ(keysOf(removed), contract);

    EXPECT_GT(removed.value(QStringLiteral("id")).toInt(),
              sent.value(QStringLiteral("id")).toInt());
    EXPECT_EQ(removed.value(QStringLiteral("operation")).toString(), QStringLiteral("delete"));
    EXPECT_EQ(removed.value(QStringLiteral("slot")).toString(), QStringLiteral("rhythm:0"));
    EXPECT_EQ(removed.value(QStringLiteral("kind")).toString(), QStringLiteral("rhythm"));
    EXPECT_TRUE(removed.value(QStringLiteral("after")).isNull());

    EXPECT_EQ(sent.value(QStringLiteral("operation")).toString(), QStringLiteral("send"));
    EXPECT_EQ(sent.value(QStringLiteral("slot")).toString(), QStringLiteral("song:0"));
    EXPECT_EQ(sent.value(QStringLiteral("kind")).toString(), QStringLiteral("song"));
    EXPECT_FALSE(sent.value(QStringLiteral("undone")).toBool(true));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"))
                    .match(sent.value(QStringLiteral("time")).toString())
                    .hasMatch())
        << sent.value(QStringLiteral("time")).toString().toStdString();
    const QJsonObject devices = sent.value(QStringLiteral("devices")).toObject();
    EXPECT_EQ(devices.value(QStringLiteral("input")).toString(), QStringLiteral("Virtual ZR-7316"));
    EXPECT_EQ(devices.value(QStringLiteral("output")).toString(),
              QStringLiteral("Virtual ZR-7316"));

    const QJsonObject before = sent.value(QStringLiteral("before")).toObject();
    EXPECT_EQ(keysOf(before), (QStringList{"file", "name", "sha256", "size"}));
    EXPECT_EQ(before.value(QStringLiteral("name")).toString(), QStringLiteral("Minuet  "));
    EXPECT_EQ(before.value(QStringLiteral("size")).toInt(), 600);
    const QString kept = before.value(QStringLiteral("file")).toString();
    EXPECT_TRUE(QDir::isAbsolutePath(kept)) << kept.toStdString();
    EXPECT_EQ(QFileInfo(kept).fileName(),
              before.value(QStringLiteral("sha256")).toString() + QStringLiteral(".kbx"));
    EXPECT_EQ(sha256Of(readFile(kept)), before.value(QStringLiteral("sha256")).toString());
    const QJsonObject after = sent.value(QStringLiteral("after")).toObject();
    EXPECT_EQ(keysOf(after), (QStringList{"name", "sha256", "size"}));
    EXPECT_EQ(after.value(QStringLiteral("name")).toString(), QStringLiteral("Waltz   "));
    EXPECT_EQ(after.value(QStringLiteral("size")).toInt(), 420);

    const Outcome human = run({QStringLiteral("history")});
    ASSERT_EQ(human.status, 0) << human;
    EXPECT_TRUE(
        human.out.contains(QStringLiteral("send     song:0     \"Minuet  \" -> \"Waltz   \"")))
        << human;
}

TEST_F(KbxToolTest, undoRevertsTheLastTwoChangesAndThenHasNothingLeft) {
    const QJsonObject original = list();
    const QString file = path(QStringLiteral("waltz.kbx"));
    writeFile(file, kbxFile(10, named(420, 4, "Waltz")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("song:0")}).status, 0);
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("rhythm:0")}).status, 0);

    const Outcome first = kbx({QStringLiteral("undo")});
    ASSERT_EQ(first.status, 0) << first;
    EXPECT_EQ(first.out, QStringLiteral("Undid the delete of Bossa 1 from Rhythm 0 (entry 2)\n"));
    const Outcome second = kbx({QStringLiteral("--json"), QStringLiteral("undo")});
    ASSERT_EQ(second.status, 0) << second;
    const QJsonObject undone = second.json();
    EXPECT_EQ(undone.value(QStringLiteral("id")).toInt(), 1);
    EXPECT_EQ(undone.value(QStringLiteral("operation")).toString(), QStringLiteral("send"));
    EXPECT_TRUE(undone.value(QStringLiteral("undone")).toBool());
    EXPECT_EQ(list(), original);

    const QJsonArray entries = run({QStringLiteral("--json"), QStringLiteral("history")})
                                   .json()
                                   .value(QStringLiteral("entries"))
                                   .toArray();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0].toObject().value(QStringLiteral("operation")).toString(),
              QStringLiteral("undo"));
    expectFailure(kbx({QStringLiteral("undo")}), QStringLiteral("There is nothing to undo"));
    if (kLanguageFromLocaleVariables) {
        m_locale = QStringLiteral("ja_JP.UTF-8");
        expectFailure(kbx({QStringLiteral("undo")}),
                      QString::fromUtf8("元に戻せる変更はありません"));
    }
}

TEST_F(KbxToolTest, historyExportWritesTheItemAsAnImportWouldAndRestoreSendsItBack) {
    const QString imported = importInto(QStringLiteral("song:0"), path(QStringLiteral("import")));
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("song:0")}).status, 0);

    const QString out = path(QStringLiteral("out"));
    QDir().mkpath(out);
    const Outcome exported =
        run({QStringLiteral("history"), QStringLiteral("export"), QStringLiteral("1"), out});
    ASSERT_EQ(exported.status, 0) << exported;
    EXPECT_EQ(QFileInfo(exported.out.chopped(1)).fileName(), QFileInfo(imported).fileName());
    EXPECT_EQ(readFile(exported.out.chopped(1)), readFile(imported));

    const Outcome restored = kbx({QStringLiteral("--json"), QStringLiteral("history"),
                                  QStringLiteral("restore"), QStringLiteral("1")});
    ASSERT_EQ(restored.status, 0) << restored;
    EXPECT_EQ(restored.json().value(QStringLiteral("id")).toInt(), 1);
    EXPECT_EQ(slotOf(list(), kSong0).value(QStringLiteral("name")).toString(),
              QStringLiteral("Minuet  "));
    const QJsonObject newest = run({QStringLiteral("--json"), QStringLiteral("history")})
                                   .json()
                                   .value(QStringLiteral("entries"))
                                   .toArray()
                                   .at(0)
                                   .toObject();
    EXPECT_EQ(newest.value(QStringLiteral("operation")).toString(), QStringLiteral("restore"));

    expectFailure(run({QStringLiteral("history"), QStringLiteral("restore"), QStringLiteral("99")}),
                  QStringLiteral("The history has no entry 99"));
    // The restore went into an empty slot: its entry keeps nothing.
    expectFailure(
        run({QStringLiteral("history"), QStringLiteral("export"), QStringLiteral("2"), out}),
        QStringLiteral("History entry 2 keeps no item: the slot was empty"));
}

TEST_F(KbxToolTest, noHistoryKeepsNothingAndVerifyReadsBackOnlyWhenAsked) {
    ASSERT_EQ(
        kbx({QStringLiteral("--no-history"), QStringLiteral("delete"), QStringLiteral("song:0")})
            .status,
        0);
    const Outcome empty = run({QStringLiteral("--json"), QStringLiteral("history")});
    EXPECT_TRUE(empty.json().value(QStringLiteral("entries")).toArray().isEmpty()) << empty;

    // kbxman's preference keeps no copy, but the change is recorded so that undo names it.
    QDir().mkpath(path(QStringLiteral("config/Tovanel")));
    writeFile(path(QStringLiteral("config/Tovanel/KbxMan.conf")),
              "[MIDI]\nInputDevice=0\nOutputDevice=0\n[Safety]\nKeepHistory=false\n");
    ASSERT_EQ(kbx({QStringLiteral("delete"), QStringLiteral("rhythm:0")}).status, 0);
    const QJsonArray entries = run({QStringLiteral("--json"), QStringLiteral("history")})
                                   .json()
                                   .value(QStringLiteral("entries"))
                                   .toArray();
    ASSERT_EQ(entries.size(), 1);
    const Outcome refused = kbx({QStringLiteral("undo")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errLines().join(u'\n').indexOf(QStringLiteral("without keeping a copy")), -1)
        << refused;

    const QString file = path(QStringLiteral("tone.kbx"));
    writeFile(file, kbxFile(2, named(60, 36, "Checked")));
    const Outcome verified =
        kbx({QStringLiteral("--verify"), QStringLiteral("send"), file, QStringLiteral("tone:4")});
    EXPECT_EQ(verified.status, 0) << verified;
    EXPECT_EQ(slotOf(list(), kTone0 + 4).value(QStringLiteral("name")).toString(),
              QStringLiteral("Checked "));
}

TEST_F(KbxToolTest, twoKbxtoolsChangingKeyboardsAtOnceBothRecordTheirChanges) {
    const QString file = path(QStringLiteral("tone.kbx"));
    writeFile(file, kbxFile(2, named(60, 36, "Twice")));
    for (int round = 0; round < 4; ++round) {
        std::vector<std::unique_ptr<QProcess>> tools;
        for (int t = 0; t < 2; ++t) {
            auto tool = std::make_unique<QProcess>();
            tool->setProgram(QStringLiteral(KBXTOOL_PATH));
            tool->setArguments({QStringLiteral("--virtual=") + path(QStringLiteral("kb%1").arg(t)),
                                QStringLiteral("send"), file,
                                QStringLiteral("tone:%1").arg(round)});
            tool->setProcessEnvironment(environment());
            tool->start();
            tools.push_back(std::move(tool));
        }
        for (auto& tool : tools) {
            ASSERT_TRUE(tool->waitForFinished(60000));
            EXPECT_EQ(tool->exitCode(), 0) << tool->readAllStandardError().toStdString();
        }
    }
    const QJsonArray entries = run({QStringLiteral("--json"), QStringLiteral("history")})
                                   .json()
                                   .value(QStringLiteral("entries"))
                                   .toArray();
    EXPECT_EQ(entries.size(), 8);
    for (const QJsonValue& e : entries) {
        const QJsonObject before = e.toObject().value(QStringLiteral("before")).toObject();
        EXPECT_EQ(sha256Of(readFile(before.value(QStringLiteral("file")).toString())),
                  before.value(QStringLiteral("sha256")).toString());
    }
}

TEST_F(KbxToolTest, aKbxtoolKilledWhileItChangesTheKeyboardLeavesAWholeHistory) {
    const QString file = path(QStringLiteral("song.kbx"));
    writeFile(file, kbxFile(10, named(2000, 4, "Killed")));
    // One whole send first: it makes the history, and its time is the span the kills fall in,
    // whatever this build's speed (a sanitizer's build starts several times slower).
    QElapsedTimer whole;
    whole.start();
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("song:0")}).status, 0);
    const int span = std::max(2, static_cast<int>(whole.elapsed()));
    QRandomGenerator random(7316);
    int killed = 0;
    for (int round = 0; round < 100; ++round) {
        QProcess tool;
        tool.setProgram(QStringLiteral(KBXTOOL_PATH));
        tool.setArguments({QStringLiteral("--virtual=") + m_state, QStringLiteral("send"), file,
                           QStringLiteral("song:%1").arg(round % 2)});
        tool.setProcessEnvironment(environment());
        tool.start();
        ASSERT_TRUE(tool.waitForStarted(10000));
        tool.waitForFinished(static_cast<int>(random.bounded(1, span)));
        tool.kill();
        tool.waitForFinished(10000);
        killed += tool.exitStatus() == QProcess::CrashExit;
    }
    EXPECT_GT(killed, 20) << "too few kills landed while kbxtool ran";
    const QString folder = path(QStringLiteral("history"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("c"));
        db.setDatabaseName(QDir(folder).filePath(QStringLiteral("history.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery check(db);
        ASSERT_TRUE(check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next());
        EXPECT_EQ(check.value(0).toString(), QStringLiteral("ok"));
        check.finish();
        QSqlQuery rows(db);
        ASSERT_TRUE(rows.exec(QStringLiteral("SELECT before_file, before_sha256 FROM entries")));
        while (rows.next()) {
            if (rows.value(0).isNull())
                continue;
            EXPECT_EQ(sha256Of(readFile(QDir(folder).filePath(rows.value(0).toString()))),
                      rows.value(1).toString());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("c"));
    // And both programs go on with it.
    EXPECT_EQ(run({QStringLiteral("--json"), QStringLiteral("history")}).status, 0);
    const Outcome again = kbx({QStringLiteral("send"), file, QStringLiteral("song:1")});
    EXPECT_EQ(again.status, 0) << again;
}

TEST_F(KbxToolTest, aBackupKilledInAnOlderBackupsFolderLeavesTheOlderOneRestorable) {
    const QString dir = path(QStringLiteral("bk"));
    ASSERT_EQ(kbx({QStringLiteral("backup"), dir}).status, 0);
    const QByteArray manifest = readFile(QDir(dir).filePath(QStringLiteral("manifest.json")));
    // Another song in the keyboard, so that a finished second backup would differ.
    const QString file = path(QStringLiteral("song.kbx"));
    writeFile(file, kbxFile(10, named(2000, 4, "Newer")));
    ASSERT_EQ(kbx({QStringLiteral("send"), file, QStringLiteral("song:1")}).status, 0);
    // At MIDI's own speed a backup lasts seconds, so that each kill lands in its own part of it,
    // the swap of the manifest at the end included, however fast or busy the machine is.
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("KBX_TEST_WIRE_SPEED"), QStringLiteral("1"));
    const auto start = [&](QProcess& tool, const QString& into) {
        tool.setProgram(QStringLiteral(KBXTOOL_PATH));
        tool.setArguments({QStringLiteral("--virtual=") + m_state, QStringLiteral("backup"), into});
        tool.setProcessEnvironment(env);
        tool.start();
        return tool.waitForStarted(10000);
    };
    QElapsedTimer whole;
    whole.start();
    {
        QProcess tool;
        ASSERT_TRUE(start(tool, path(QStringLiteral("measured"))));
        ASSERT_TRUE(tool.waitForFinished(60000));
        ASSERT_EQ(tool.exitCode(), 0);
    }
    const int span = std::max(12, static_cast<int>(whole.elapsed()));
    constexpr int kParts = 6;
    QRandomGenerator random(7316);
    int killed = 0;
    for (int part = 0; part < kParts; ++part) {
        QProcess tool;
        ASSERT_TRUE(start(tool, dir));
        tool.waitForFinished(span * part / kParts + random.bounded(1, span / kParts));
        tool.kill();
        tool.waitForFinished(10000);
        if (tool.exitStatus() != QProcess::CrashExit)
            break; // finished before the kill: the folder holds the newer backup from here on
        ++killed;
        // The older backup, whole: its manifest as it was, and every file it names readable.
        ASSERT_EQ(readFile(QDir(dir).filePath(QStringLiteral("manifest.json"))), manifest);
        const Outcome check = kbx({QStringLiteral("restore"), QStringLiteral("--dry-run"), dir});
        ASSERT_EQ(check.status, 0) << check;
    }
    EXPECT_GE(killed, kParts - 1) << "too few kills landed while the backup ran";
}
