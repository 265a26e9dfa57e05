// The connection's use cases: devices resolved by name when numbers move, the order in which
// detect tries device pairs and what it sends, and the connection test against a keyboard that
// loses requests. Exchanges run against the virtual keyboard and scripted devices through the real
// ports and event loop; English texts (LC_ALL=C).

#include "ops/connection.h"
#include "ops/keyboardaction.h"

#include "loopbackbackend.h"
#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace kbxops;
using kbxtest::hex;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

namespace {

const Bytes kTypeRequest = hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7");

DeviceChoice choice(int in, int out, const QString& inName, const QString& outName) {
    return DeviceChoice{{in, out}, inName, outName};
}

std::string failureText(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no failure)";
}

// ---- resolving by name ----

TEST(ResolveDevicesTest, aNumberThatStillNamesTheDeviceStays) {
    const Resolution r = resolveDevices(choice(1, 0, "USB In", "USB Out"), Names{"Other", "USB In"},
                                        Names{"USB Out", "Other"});
    EXPECT_EQ(r.choice.devices.input, 1);
    EXPECT_EQ(r.choice.devices.output, 0);
    EXPECT_FALSE(r.moved);
}

TEST(ResolveDevicesTest, aDeviceWhoseNumberMovedIsFoundByName) {
    // A device listed before it went away: the stored numbers now name other devices.
    const Resolution r = resolveDevices(choice(1, 1, "USB In", "USB Out"),
                                        Names{"USB In", "Webcam", "Virtual ZR-7316"},
                                        Names{"Synth", "Virtual ZR-7316", "USB Out"});
    EXPECT_EQ(r.choice.devices.input, 0);
    EXPECT_EQ(r.choice.devices.output, 2);
    EXPECT_EQ(r.choice.inputName, "USB In");
    EXPECT_TRUE(r.moved);
}

TEST(ResolveDevicesTest, aDeviceThatIsGoneIsNamedAndNothingElseIsOpened) {
    const auto resolve = [] {
        resolveDevices(choice(0, 0, "USB In", "Virtual ZR-7316"), Names{"Virtual ZR-7316"},
                       Names{"Virtual ZR-7316"});
    };
    EXPECT_EQ(failureText(resolve), "The MIDI device \"USB In\" is not connected.");
    // The output side is checked as well.
    EXPECT_EQ(failureText([] { resolveDevices(choice(0, 0, "A", "B"), Names{"A"}, Names{"C"}); }),
              "The MIDI device \"B\" is not connected.");
}

TEST(ResolveDevicesTest, olderSettingsWithoutNamesKeepTheirNumbers) {
    const Resolution r = resolveDevices(choice(1, 7, "", ""), Names{"A"}, Names{"B"});
    EXPECT_EQ(r.choice.devices.input, 1); // out of range as before: opening it reports that
    EXPECT_EQ(r.choice.devices.output, 7);
    EXPECT_FALSE(r.moved);
    // One side named, the other not.
    const Resolution half = resolveDevices(choice(3, 1, "", "B"), Names{}, Names{"X", "Y", "B"});
    EXPECT_EQ(half.choice.devices.input, 3);
    EXPECT_EQ(half.choice.devices.output, 2);
}

TEST(ResolveDevicesTest, anAlsaDeviceAtANewAddressIsTheSameDevice) {
    // Plugged into another socket: ALSA gave the client another number.
    const Resolution r = resolveDevices(
        choice(0, 0, "USB MIDI:USB MIDI MIDI 1 20:0", "USB MIDI:USB MIDI MIDI 1 20:0"),
        Names{"Midi Through:Midi Through Port-0 14:0", "USB MIDI:USB MIDI MIDI 1 24:0"},
        Names{"Midi Through:Midi Through Port-0 14:0", "USB MIDI:USB MIDI MIDI 1 24:0"});
    EXPECT_EQ(r.choice.devices.input, 1);
    EXPECT_EQ(r.choice.devices.output, 1);
    EXPECT_TRUE(sameDevice("USB MIDI:USB MIDI MIDI 1 20:0", "USB MIDI:USB MIDI MIDI 1 24:0"));
    EXPECT_FALSE(sameDevice("USB MIDI:USB MIDI MIDI 1 20:0", "USB MIDI:USB MIDI MIDI 2 20:1"));
    EXPECT_FALSE(sameDevice("", ""));
}

// ---- the order of detect ----

QStringList pairTexts(const std::vector<DevicePair>& pairs) {
    QStringList texts;
    for (const DevicePair& p : pairs)
        texts << QStringLiteral("%1/%2%3").arg(p.input).arg(p.output).arg(p.isVirtual ? "v" : "");
    return texts;
}

TEST(DetectCandidatesTest, matchingNamesFirstThenTheRestThenTheVirtualKeyboardAlone) {
    const Names inputs{"Synth In", "ZR-7316 Virtual:ZR-7316 Virtual", "Virtual ZR-7316"};
    const Names outputs{"ZR-7316 Virtual-01:ZR-7316 Virtual", "Synth Out", "Virtual ZR-7316"};
    const std::vector<DevicePair> pairs = detectCandidates(inputs, outputs, 2, 2);
    EXPECT_EQ(pairTexts(pairs), (QStringList{"0/1", "1/0", "0/0", "1/1", "2/2v"}));
    EXPECT_EQ(pairs[0].inputName, "Synth In");
    EXPECT_EQ(pairs[0].outputName, "Synth Out");
    EXPECT_EQ(pairs.back().inputName, "Virtual ZR-7316");
}

TEST(DetectCandidatesTest, namesOfOneDeviceAreRecognisedAcrossSystems) {
    EXPECT_TRUE(namesMatch("USB MIDI:USB MIDI MIDI 1 20:0", "USB MIDI:USB MIDI MIDI 1 20:0"));
    EXPECT_TRUE(namesMatch("MIDIIN2 (UM-ONE)", "MIDIOUT2 (UM-ONE)"));
    EXPECT_TRUE(namesMatch("UM-ONE MIDI IN", "UM-ONE MIDI OUT"));
    EXPECT_TRUE(namesMatch("system:midi_capture_1", "system:midi_playback_1"));
    EXPECT_FALSE(namesMatch("UM-ONE MIDI IN", "Synth MIDI OUT"));
    EXPECT_FALSE(namesMatch("In", "Out")); // nothing left to compare
}

TEST(DetectCandidatesTest, atMostSixtyFourPairsWithTheVirtualKeyboardAmongThem) {
    Names inputs, outputs;
    for (int i = 0; i < 10; ++i) {
        inputs.push_back("Device " + std::to_string(i) + " In");
        outputs.push_back("Device " + std::to_string(i) + " Out");
    }
    inputs.push_back(kbxmidi::kVirtualDeviceName);
    outputs.push_back(kbxmidi::kVirtualDeviceName);
    const std::vector<DevicePair> pairs = detectCandidates(inputs, outputs, 10, 10);
    ASSERT_EQ(pairs.size(), 64u);
    EXPECT_TRUE(pairs.back().isVirtual);
    for (int i = 0; i < 10; ++i) // the ten matching pairs lead
        EXPECT_EQ(pairs[static_cast<std::size_t>(i)].input,
                  pairs[static_cast<std::size_t>(i)].output);
    EXPECT_EQ(detectCandidates(inputs, outputs, -1, -1).size(), 64u);
    EXPECT_TRUE(detectCandidates({}, {}, -1, -1).empty());
}

// ---- detect and ping on devices ----

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_keyboard = &registry.virtualKeyboard();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->clearLog();
    }
    void TearDown() override {
        m_keyboard->setFaults({});
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
    }

    VirtualZr7316* m_keyboard = nullptr;
};

class Watcher : public DetectObserver {
public:
    void trying(const DevicePair& pair, int index, int count) override {
        tried.push_back(pair);
        indexes.push_back(index);
        counts.push_back(count);
    }
    bool cancelled() override {
        return cancelAt >= 0 && static_cast<int>(tried.size()) >= cancelAt;
    }
    std::vector<DevicePair> tried;
    std::vector<int> indexes, counts;
    int cancelAt = -1;
};

TEST_F(ConnectionTest, detectAsksOnlyTheKeyboardTypeAndFallsBackToTheVirtualKeyboard) {
    // Two silent devices of another maker before the virtual keyboard.
    auto others = std::make_shared<kbxmidi::LoopbackBackend>(Names{"Synth In", "Pad In"},
                                                             Names{"Synth Out", "Pad Out"});
    kbxmidi::DeviceRegistry::instance().setTestBackend(others);
    Watcher watcher;
    const DetectResult result = detectKeyboard(&watcher);

    ASSERT_EQ(result.outcome, DetectResult::Found);
    EXPECT_TRUE(result.pair.isVirtual);
    EXPECT_EQ(result.pair.input, 2);
    EXPECT_EQ(result.pair.output, 2);
    EXPECT_EQ(result.pair.inputName, "Virtual ZR-7316");
    EXPECT_EQ(result.tried, 5);
    EXPECT_EQ(pairTexts(watcher.tried), (QStringList{"0/0", "1/1", "0/1", "1/0", "2/2v"}));
    EXPECT_EQ(watcher.indexes, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(watcher.counts, (std::vector<int>(5, 5)));

    // One request per pair, the keyboard-type request and nothing else.
    EXPECT_EQ(others->sentMessages(), std::vector<Bytes>(4, kTypeRequest));
    EXPECT_EQ(m_keyboard->received(), std::vector<Bytes>{kTypeRequest});
    EXPECT_EQ(others->openInputCount(), 0);
    EXPECT_EQ(others->openOutputCount(), 0);
}

TEST_F(ConnectionTest, detectPassesOverEchoesOtherModelsAndDevicesThatCannotOpen) {
    // A cable looped back answers with the request itself; the virtual keyboard reports
    // another model; nothing is found.
    auto loop = std::make_shared<kbxmidi::LoopbackBackend>();
    loop->setEcho(true);
    kbxmidi::DeviceRegistry::instance().setTestBackend(loop);
    VirtualZr7316::Faults other;
    other.keyboardType = 1;
    m_keyboard->setFaults(other);
    DetectResult result = detectKeyboard();
    EXPECT_EQ(result.outcome, DetectResult::NotFound);
    EXPECT_EQ(result.tried, 2);

    loop->setEcho(false);
    loop->setOpenOutputError("busy");
    m_keyboard->setFaults({});
    result = detectKeyboard();
    EXPECT_EQ(result.outcome, DetectResult::Found);
    EXPECT_TRUE(result.pair.isVirtual);
    EXPECT_EQ(loop->openInputCount(), 0); // the input opened before the output failed is closed
    EXPECT_EQ(detectFailureText(3).left(52),
              "No ZR-7316 answered on any of the 3 MIDI device pair");
}

TEST_F(ConnectionTest, detectStopsWhenCancelled) {
    kbxmidi::DeviceRegistry::instance().setTestBackend(
        std::make_shared<kbxmidi::LoopbackBackend>());
    Watcher watcher;
    watcher.cancelAt = 1;
    const DetectResult result = detectKeyboard(&watcher);
    EXPECT_EQ(result.outcome, DetectResult::Cancelled);
    EXPECT_EQ(result.tried, 1);
    EXPECT_TRUE(m_keyboard->received().empty());
}

class PingRecorder : public PingObserver {
public:
    void replied(int index, int count, std::optional<double> ms) override {
        replies.push_back(ms.has_value());
        last = index;
        total = count;
    }
    std::vector<bool> replies;
    int last = -1;
    int total = 0;
};

TEST_F(ConnectionTest, pingCountsTheRequestsAKeyboardThatDropsEverySecondOneAnswers) {
    VirtualZr7316::Faults faults;
    faults.dropEvery = 2;
    m_keyboard->setFaults(faults);
    auto& registry = kbxmidi::DeviceRegistry::instance();
    PingRecorder recorder;
    const PingResult result =
        pingKeyboard({registry.virtualInputNumber(), registry.virtualOutputNumber()}, 6, &recorder);

    EXPECT_EQ(result.sent, 6);
    EXPECT_EQ(result.answered, 3);
    EXPECT_EQ(recorder.replies, (std::vector<bool>{true, false, true, false, true, false}));
    EXPECT_EQ(recorder.last, 5);
    EXPECT_EQ(recorder.total, 6);
    ASSERT_EQ(result.roundTripsMs.size(), 3u);
    EXPECT_LE(*result.minMs(), *result.medianMs());
    EXPECT_LE(*result.medianMs(), *result.maxMs());
    // Each request is the keyboard-type request; a lost one is not repeated.
    EXPECT_EQ(m_keyboard->received(), std::vector<Bytes>(6, kTypeRequest));
}

TEST_F(ConnectionTest, pingOnADeviceThatCannotOpenFailsWithTheDriversText) {
    auto loop = std::make_shared<kbxmidi::LoopbackBackend>();
    loop->setOpenInputError("in use");
    kbxmidi::DeviceRegistry::instance().setTestBackend(loop);
    EXPECT_EQ(failureText([] { pingKeyboard({0, 0}, 3); }), "MIDI SYSTEM ERROR: in use");
}

TEST(PingTextTest, summaryGivesTheRoundTripsAndTheAdviceTheSockets) {
    PingResult result;
    result.sent = 4;
    result.answered = 3;
    result.roundTripsMs = {3.0, 1.236, 2.0};
    EXPECT_EQ(pingSummaryText(result),
              "3 of 4 requests answered; round trip min 1.24 ms, median 2.00 ms, max 3.00 ms.");
    result.answered = 0;
    result.roundTripsMs.clear();
    EXPECT_EQ(pingSummaryText(result), "0 of 4 requests answered.");
    EXPECT_FALSE(result.medianMs().has_value());
    result.roundTripsMs = {4.0, 1.0, 2.0, 3.0};
    EXPECT_EQ(*result.medianMs(), 2.5);

    const QString advice = pingAdviceText();
    EXPECT_TRUE(advice.contains("the computer's MIDI OUT goes to the keyboard's MIDI IN"));
    EXPECT_TRUE(advice.contains("the keyboard's MIDI OUT to the computer's MIDI IN"));
    EXPECT_TRUE(advice.contains("Find keyboard"));
}

} // namespace

// ---- one action, one keyboard ----

// A second action on a keyboard another one holds waits, then is refused naming the holder; once
// the first has ended the keyboard is free again.
TEST(KeyboardActionTest, aKeyboardInUseIsRefusedNamingTheProgramThatHoldsIt) {
    QTemporaryDir dir;
    VirtualZr7316& keyboard = kbxmidi::DeviceRegistry::instance().virtualKeyboard();
    keyboard.setStateFile(dir.filePath(QStringLiteral("kbd.state")));
    const int virtualNumber = kbxmidi::DeviceRegistry::instance().virtualInputNumber();
    const DeviceChoice chosen = choice(virtualNumber, virtualNumber, {}, {});
    {
        const KeyboardAction first(chosen);
        EXPECT_EQ(first.ports().input.identity().source, "virtual");
        const std::string text = failureText([&] { KeyboardAction second(chosen); });
        EXPECT_EQ(text, "The keyboard is in use by another program (" +
                            QCoreApplication::applicationName().toStdString() + ", process " +
                            std::to_string(QCoreApplication::applicationPid()) + ").");
    }
    EXPECT_NO_THROW(KeyboardAction again(chosen));
    keyboard.setStateFile(QString());
}
