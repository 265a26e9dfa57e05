// kbxtool over JACK among other programs' ports: the virtual ZR-7316 published by `kbxtool
// emulate`, and a device of another program listed before it that records what it receives.
// detect must find the keyboard and send the other device nothing but the keyboard-type request;
// devices stored by name must be found when their numbers have moved, and named when gone.
// An action is bound to the devices it began with: when the keyboard's ports vanish mid-action
// nothing goes to another device and nothing is claimed that did not happen; two programs take
// turns on one keyboard. Skipped where jackd is not installed.
#include "faultkit.h"
#include "jackserver.h"
#include "ops/datafile.h"
#include "testutil.h"
#include "zxkinds.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef KBXTOOL_PATH
#error "KBXTOOL_PATH must name the kbxtool binary"
#endif

using kbxtest::hex;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kTypeRequest = hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7");

struct Outcome {
    int status = -1;
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

std::ostream& operator<<(std::ostream& os, const Outcome& r) {
    return os << "status " << r.status << "\nstdout:\n"
              << r.out.toStdString() << "\nstderr:\n"
              << r.err.toStdString();
}

class KbxToolJackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_jack.installed())
            GTEST_SKIP() << "jackd is not installed (scripts/install-deps installs jackd2)";
        std::string why;
        ASSERT_TRUE(m_jack.start(why)) << why;
        // Registered before the keyboard's ports, so its pair comes first in the lists.
        m_other = std::make_unique<kbxtest::MidiPeer>("kbxother", "Other in", "Other out");
        startEmulate();
    }

    void TearDown() override {
        stopEmulate();
        m_other.reset();
        m_jack.stop();
    }

    QString path(const QString& name) const { return QDir(m_home.path()).filePath(name); }
    QString settingsFile() const { return path(QStringLiteral("KbxMan.conf")); }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        env.insert(QStringLiteral("KBX_SETTINGS"), settingsFile());
        env.remove(QStringLiteral("KBX_TEST")); // the system's (JACK) devices are wanted here
        return env;
    }

    void startEmulate() {
        m_emulate.setProgram(QStringLiteral(KBXTOOL_PATH));
        m_emulate.setArguments({QStringLiteral("emulate"), QStringLiteral("--state"),
                                path(QStringLiteral("keyboard.state"))});
        m_emulate.setProcessEnvironment(environment());
        m_emulate.start();
        ASSERT_TRUE(m_emulate.waitForStarted());
        QByteArray out;
        while (!out.contains("output:") && m_emulate.state() == QProcess::Running)
            if (m_emulate.waitForReadyRead(10000))
                out += m_emulate.readAllStandardOutput();
        ASSERT_TRUE(out.contains("jack  output:")) << out.toStdString();
    }

    void stopEmulate() {
        if (m_emulate.state() == QProcess::NotRunning)
            return;
        m_emulate.terminate();
        m_emulate.waitForFinished(10000);
    }

    Outcome run(const QStringList& args) {
        QProcess process;
        process.setProgram(QStringLiteral(KBXTOOL_PATH));
        process.setArguments(args);
        process.setProcessEnvironment(environment());
        process.start();
        EXPECT_TRUE(process.waitForFinished(60000));
        Outcome r;
        r.status = process.exitCode();
        r.out = QString::fromUtf8(process.readAllStandardOutput());
        r.err = QString::fromUtf8(process.readAllStandardError());
        return r;
    }

    // Starts kbxtool and pulls the keyboard's "cable" (ends its program, whose ports go with it
    // as an unplugged interface's do) once the trace shows `messages` messages to it of the
    // type `type` (4 data blocks, 5 data requests).
    Outcome runAndUnplugAfter(const QStringList& args, char type, int messages) {
        const QByteArray mark = QByteArrayLiteral("> F0 44 11 01 7F ") + type;
        QProcess process;
        process.setProgram(QStringLiteral(KBXTOOL_PATH));
        process.setArguments(QStringList{QStringLiteral("--trace")} + args);
        process.setProcessEnvironment(environment());
        process.setReadChannel(QProcess::StandardError); // what waitForReadyRead waits for
        process.start();
        QByteArray err;
        while (process.state() != QProcess::NotRunning && err.count(mark) < messages)
            if (process.waitForReadyRead(10000))
                err += process.readAllStandardError();
        m_emulate.terminate();
        m_emulate.waitForFinished(10000);
        EXPECT_TRUE(process.waitForFinished(60000));
        Outcome r;
        r.status = process.exitCode();
        r.out = QString::fromUtf8(process.readAllStandardOutput());
        r.err = QString::fromUtf8(err + process.readAllStandardError());
        return r;
    }

    QStringList onKeyboard(QStringList args) const {
        return QStringList{QStringLiteral("--in"), QStringLiteral("ZR-7316 Virtual"),
                           QStringLiteral("--out"), QStringLiteral("ZR-7316 Virtual")} +
               args;
    }

    QString writeSong(const QString& name, const std::string& itemName, std::size_t size) {
        const QString file = path(name);
        kbxops::writeDataFile(
            file, *faultkit::makeItem(
                      ZxKind::Song, faultkit::namedItem(size, ZxKind::Song, itemName, int(size))));
        return file;
    }

    QJsonObject slotOf(const Outcome& list, const QString& shortForm) const {
        for (const auto& slot : list.json().value("slots").toArray()) {
            const QJsonObject o = slot.toObject();
            const QString kind = o.value("kind").toString();
            if (QStringLiteral("%1:%2").arg(kind).arg(o.value("number").toInt()) == shortForm)
                return o;
        }
        return {};
    }

    // The built-in keyboard keeps its memory in a state file once something changed it.
    bool builtInKeyboardChanged() const {
        QDirIterator it(path(QStringLiteral("data")), {QStringLiteral("virtual-zr7316.json")},
                        QDir::Files, QDirIterator::Subdirectories);
        return it.hasNext();
    }

    // A busy machine now and then misses JACK's deadlines (a reply later than 200 ms); a
    // command is run again, up to three times, before its failure counts.
    Outcome runAgainOnFailure(const QStringList& args) {
        Outcome r;
        for (int attempt = 1; attempt <= 3; ++attempt) {
            r = run(args);
            if (r.status == 0)
                break;
            std::cerr << "note: attempt " << attempt << " failed: " << r << "\n";
        }
        return r;
    }

    QTemporaryDir m_home;
    kbxtest::JackServer m_jack;
    std::unique_ptr<kbxtest::MidiPeer> m_other;
    QProcess m_emulate;
};

TEST_F(KbxToolJackTest, detectFindsTheEmulatedKeyboardAndAsksTheOthersOnlyItsType) {
    const Outcome r = runAgainOnFailure(
        {QStringLiteral("--json"), QStringLiteral("detect"), QStringLiteral("--save")});
    ASSERT_EQ(r.status, 0) << r;
    const QJsonObject document = r.json();
    const QString input = document.value("input").toObject().value("name").toString();
    const QString output = document.value("output").toObject().value("name").toString();
    EXPECT_TRUE(input.startsWith(QStringLiteral("ZR-7316 Virtual"))) << r;
    EXPECT_TRUE(output.startsWith(QStringLiteral("ZR-7316 Virtual"))) << r;
    EXPECT_FALSE(document.value("virtual").toBool(true)) << r;
    EXPECT_EQ(document.value("tried").toInt(), 2) << r; // the other program's pair, then ours

    // The other device heard the keyboard-type request and nothing else.
    EXPECT_EQ(m_other->messages(), std::vector<Bytes>{kTypeRequest});

    // Stored by name, and used by the next command.
    const QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value("MIDI/InputDeviceName").toString(), input);
    EXPECT_EQ(stored.value("MIDI/OutputDeviceName").toString(), output);
    const Outcome ping = runAgainOnFailure({QStringLiteral("--json"), QStringLiteral("ping"),
                                            QStringLiteral("--count"), QStringLiteral("3")});
    EXPECT_EQ(ping.json().value("answered").toInt(), 3) << ping;
    EXPECT_EQ(m_other->messages().size(), 1u);
}

TEST_F(KbxToolJackTest, devicesStoredByNameAreFoundWhenMovedAndNamedWhenGone) {
    const Outcome devices = run({QStringLiteral("--json"), QStringLiteral("detect")});
    ASSERT_EQ(devices.status, 0) << devices;
    const QString input = devices.json().value("input").toObject().value("name").toString();
    const QString output = devices.json().value("output").toObject().value("name").toString();
    const int inputNumber = devices.json().value("input").toObject().value("number").toInt();

    // Stored when the numbers were others: now they name the other program's ports.
    {
        QSettings store(settingsFile(), QSettings::IniFormat);
        store.setValue("MIDI/InputDevice", inputNumber == 0 ? 1 : 0);
        store.setValue("MIDI/OutputDevice", 5);
        store.setValue("MIDI/InputDeviceName", input);
        store.setValue("MIDI/OutputDeviceName", output);
    }
    const std::size_t heardBefore = m_other->messages().size();
    const Outcome list = runAgainOnFailure({QStringLiteral("--json"), QStringLiteral("list")});
    ASSERT_EQ(list.status, 0) << list;
    EXPECT_EQ(list.json().value("model").toString(), QStringLiteral("ZR-7316"));
    EXPECT_EQ(m_other->messages().size(), heardBefore); // nothing went to the wrong device
    {
        const QSettings store(settingsFile(), QSettings::IniFormat);
        EXPECT_EQ(store.value("MIDI/InputDevice").toInt(), inputNumber);
        EXPECT_EQ(store.value("MIDI/OutputDeviceName").toString(), output);
    }

    // The keyboard's program ends: its ports are named as missing, nothing else is opened.
    stopEmulate();
    const Outcome gone = run({QStringLiteral("list")});
    EXPECT_EQ(gone.status, 1) << gone;
    EXPECT_EQ(gone.err.trimmed(),
              QStringLiteral("The MIDI device \"%1\" is not connected.").arg(input))
        << gone;
    EXPECT_EQ(m_other->messages().size(), heardBefore);
}

// The cable goes while a song replaces a song: the old one was deleted first and cannot go back.
// The program says so and where it is kept; once the keyboard is back, undo restores it. Nothing
// went to the built-in keyboard, which takes the vanished ports' numbers.
TEST_F(KbxToolJackTest, aSongThatCannotGoBackIsKeptAndSaidSoNeverPutIntoAnotherKeyboard) {
    const Outcome before = runAgainOnFailure(onKeyboard({"--json", "list"}));
    ASSERT_EQ(before.status, 0) << before;
    const QString oldName = slotOf(before, "song:0").value("name").toString();
    ASSERT_FALSE(oldName.isEmpty()) << before;

    const QString song = writeSong("big.kbx", "BigSong", 15000);
    const Outcome sent = runAndUnplugAfter(onKeyboard({"send", song, "song:0"}), '4', 40);
    EXPECT_EQ(sent.status, 1) << sent;
    EXPECT_TRUE(sent.err.contains("has been disconnected")) << sent;
    EXPECT_TRUE(sent.err.contains("The song could not be put back. It is kept in the history "
                                  "(entry 1)"))
        << sent;
    EXPECT_FALSE(sent.err.contains("has been put back")) << sent;
    EXPECT_FALSE(builtInKeyboardChanged());

    const QJsonObject entry =
        run({"--json", "history"}).json().value("entries").toArray().first().toObject();
    EXPECT_EQ(entry.value("before").toObject().value("name").toString(), oldName);
    EXPECT_TRUE(entry.value("after").isNull());

    startEmulate();
    const Outcome undone = runAgainOnFailure(onKeyboard({"undo"}));
    EXPECT_EQ(undone.status, 0) << undone;
    const Outcome after = runAgainOnFailure(onKeyboard({"--json", "list"}));
    EXPECT_EQ(slotOf(after, "song:0").value("name").toString(), oldName) << after;
}

// The keyboard goes in the middle of a backup and of a restore while a second device was
// registered after it: the jobs stop, say what they did not do, and the second device hears
// nothing.
TEST_F(KbxToolJackTest, aJobWhoseKeyboardGoesStopsThereAndNeverGoesOnWithTheNextDevice) {
    const QString dir = path("backup");
    QDir().mkpath(dir);
    const Outcome whole = runAgainOnFailure(onKeyboard({"backup", dir}));
    ASSERT_EQ(whole.status, 0) << whole;
    kbxtest::MidiPeer second("kbxsecond", "Second in", "Second out");

    const QString cut = path("cut");
    const Outcome backup = runAndUnplugAfter(onKeyboard({"--json", "backup", cut}), '5', 12);
    EXPECT_EQ(backup.status, 1) << backup;
    const QJsonObject manifest =
        QJsonDocument::fromJson([&] {
            QFile f(QDir(cut).filePath("manifest.json"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }())
            .object();
    EXPECT_FALSE(manifest.value("complete").toBool(true)) << backup;
    EXPECT_FALSE(manifest.value("notDone").toArray().isEmpty()) << backup;
    EXPECT_TRUE(second.messages().empty());

    startEmulate();
    const Outcome restore = runAndUnplugAfter(onKeyboard({"--json", "restore", dir}), '4', 30);
    EXPECT_EQ(restore.status, 1) << restore;
    const QJsonObject result = restore.json();
    EXPECT_FALSE(result.value("notDone").toArray().isEmpty()) << restore;
    EXPECT_FALSE(result.value("failed").toArray().isEmpty()) << restore;
    EXPECT_TRUE(second.messages().empty());
    EXPECT_FALSE(builtInKeyboardChanged());
}

// Two programs send into one slot at once: they take turns, so the song one of them replaced is
// in the history, never silently gone.
TEST_F(KbxToolJackTest, twoProgramsOnOneKeyboardTakeTurnsAndNoSongGoesUnrecorded) {
    const QString a = writeSong("a.kbx", "SongA", 6000);
    const QString b = writeSong("b.kbx", "SongB", 6000);
    QProcess first;
    first.setProgram(QStringLiteral(KBXTOOL_PATH));
    first.setArguments(onKeyboard({"send", a, "song:1"}));
    first.setProcessEnvironment(environment());
    first.start();
    const Outcome other = run(onKeyboard({"send", b, "song:1"}));
    ASSERT_TRUE(first.waitForFinished(60000));
    const int firstStatus = first.exitCode();

    const QJsonArray entries = run({"--json", "history"}).json().value("entries").toArray();
    const Outcome list = runAgainOnFailure(onKeyboard({"--json", "list"}));
    const QString now = slotOf(list, "song:1").value("name").toString().trimmed();
    // A send into the empty slot is recorded too (undo empties it again).
    QStringList kept;
    for (const auto& e : entries)
        if (const QJsonObject before = e.toObject().value("before").toObject(); !before.isEmpty())
            kept << before.value("name").toString().trimmed();
    if (firstStatus == 0 && other.status == 0) {
        // The later one replaced the earlier one's song, and kept it first.
        EXPECT_EQ(entries.size(), 2) << other;
        ASSERT_EQ(kept.size(), 1) << other;
        EXPECT_EQ(QSet<QString>({kept.front(), now}), QSet<QString>({"SongA", "SongB"}));
    } else {
        // One was refused before it sent anything, naming the other.
        EXPECT_EQ(firstStatus + other.status, 1) << other;
        const QString refusal =
            other.status ? other.err : QString::fromUtf8(first.readAllStandardError());
        EXPECT_TRUE(refusal.contains("The keyboard is in use by another program"))
            << refusal.toStdString();
        EXPECT_EQ(entries.size(), 1);
        EXPECT_TRUE(kept.isEmpty());
    }
}

// A change another program makes to the keyboard's state file while `kbxtool emulate` runs
// survives emulate's end.
TEST_F(KbxToolJackTest, emulateEndingKeepsWhatAnotherProgramStoredMeanwhile) {
    const QString state = path("keyboard.state");
    const QString song = writeSong("c.kbx", "Stored", 3000);
    const Outcome sent = run({"--virtual=" + state, "send", song, "song:1"});
    ASSERT_EQ(sent.status, 0) << sent;
    stopEmulate();
    const Outcome list = run({"--json", "--virtual=" + state, "list"});
    EXPECT_EQ(slotOf(list, "song:1").value("name").toString().trimmed(), QStringLiteral("Stored"))
        << list;
}

} // namespace
