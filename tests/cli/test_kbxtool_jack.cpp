// kbxtool over JACK among other programs' ports: the virtual ZR-7316 published by `kbxtool
// emulate`, and a device of another program listed before it that records what it receives.
// detect must find the keyboard and send the other device nothing but the keyboard-type request;
// devices stored by name must be found when their numbers have moved, and named when gone.
// Skipped where jackd is not installed.
#include "jackserver.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
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

} // namespace
