// The preference dialog's device lists follow JACK while the dialog is open: a program that
// registers its ports appears in both lists at once, one that ends disappears, and the user's
// choice stays on its device. On a JACK server of the test's own; skipped without jackd.
#include "devicewatch.h"
#include "jackserver.h"
#include "mididevices.h"
#include "preferform.h"
#include "testutil.h"

#include <QApplication>
#include <QComboBox>
#include <gtest/gtest.h>

namespace {

QStringList boxTexts(QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

bool lists(QComboBox* box, const QString& part) {
    return boxTexts(box).filter(part).size() == 1;
}

class PrefFormJackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_jack.installed())
            GTEST_SKIP() << "jackd is not installed";
        std::string why;
        ASSERT_TRUE(m_jack.start(why)) << why;
        kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(true);
    }
    void TearDown() override {
        kbxmidi::DeviceWatch::instance().stop();
        kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(false);
        m_jack.stop();
    }

    kbxtest::JackServer m_jack;
};

TEST_F(PrefFormJackTest, listsChangeWhenAJackPortAppearsOrGoes) {
    auto keyboard = std::make_unique<kbxtest::MidiPeer>("kbxkeys", "keys in", "keys out");
    TPrefForm form;
    form.show();
    auto* in = form.findChild<QComboBox*>("MidiInDevBox");
    auto* out = form.findChild<QComboBox*>("MidiOutDevBox");
    ASSERT_TRUE(lists(in, "keys out"));
    in->setCurrentIndex(static_cast<int>(boxTexts(in).indexOf(boxTexts(in).filter("keys out")[0])));
    EXPECT_FALSE(lists(in, "synth out"));

    auto synth = std::make_unique<kbxtest::MidiPeer>("kbxsynth", "synth in", "synth out");
    ASSERT_TRUE(kbxtest::waitFor([&] { return lists(in, "synth out") && lists(out, "synth in"); }));
    EXPECT_TRUE(in->currentText().contains("keys out")); // the choice stays on its device

    keyboard.reset();
    ASSERT_TRUE(kbxtest::waitFor([&] { return !lists(in, "keys out") && !lists(out, "keys in"); }));
    EXPECT_EQ(in->currentIndex(), -1); // gone: no other device is taken for it
    EXPECT_EQ(boxTexts(in).back(), "Virtual ZR-7316");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
