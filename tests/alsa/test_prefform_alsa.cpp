// The preference dialog's device lists follow the kernel's ALSA sequencer while the dialog is
// open: a program whose port appears is listed at once in both lists, one whose port goes is
// taken out, and the user's choice stays on its device. Runs for real inside the ALSA test
// machine (tests/alsa/run); skipped where there is no sequencer.
#include "devicewatch.h"
#include "mididevices.h"
#include "preferform.h"
#include "testutil.h"

#include <QApplication>
#include <QComboBox>
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Another program's MIDI port: a sequencer client of its own with one duplex port.
class SequencerPort {
public:
    explicit SequencerPort(const char* name) {
        if (snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0)
            throw std::runtime_error("no ALSA sequencer");
        snd_seq_set_client_name(m_seq, name);
        snd_seq_create_simple_port(m_seq, name,
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                       SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    ~SequencerPort() { snd_seq_close(m_seq); }
    SequencerPort(const SequencerPort&) = delete;
    SequencerPort& operator=(const SequencerPort&) = delete;

private:
    snd_seq_t* m_seq = nullptr;
};

QStringList boxTexts(QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

bool lists(QComboBox* box, const QString& part) {
    return boxTexts(box).filter(part).size() == 1;
}

TEST(PrefFormAlsa, listsFollowSequencerPortsThatComeAndGo) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq): tests/alsa/run runs this";
    kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(true);
    auto keyboard = std::make_unique<SequencerPort>("kbxkeys");
    {
        TPrefForm form;
        form.show();
        // The sequencer announces its ports; the lists do not wait for a second's polling.
        EXPECT_TRUE(kbxmidi::DeviceWatch::instance().announcing());
        auto* in = form.findChild<QComboBox*>("MidiInDevBox");
        auto* out = form.findChild<QComboBox*>("MidiOutDevBox");
        ASSERT_TRUE(lists(in, "kbxkeys:kbxkeys")) << boxTexts(in).join(u'|').toStdString();
        in->setCurrentIndex(
            static_cast<int>(boxTexts(in).indexOf(boxTexts(in).filter("kbxkeys")[0])));
        EXPECT_FALSE(lists(in, "kbxsynth"));

        auto synth = std::make_unique<SequencerPort>("kbxsynth");
        ASSERT_TRUE(
            kbxtest::waitFor([&] { return lists(in, "kbxsynth") && lists(out, "kbxsynth"); }));
        EXPECT_TRUE(in->currentText().contains("kbxkeys")); // the choice stays on its device

        keyboard.reset();
        ASSERT_TRUE(
            kbxtest::waitFor([&] { return !lists(in, "kbxkeys") && !lists(out, "kbxkeys"); }));
        EXPECT_EQ(in->currentIndex(), -1); // gone: no other device is taken for it
        EXPECT_EQ(boxTexts(in).back(), "Virtual ZR-7316");
    }
    kbxmidi::DeviceWatch::instance().stop();
    kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(false);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
