// kbxtool's commands about the connection itself: finding the keyboard (detect) and testing the
// connection (ping).
#include "kbxtool.h"

#include "clitext.h"
#include "connection.h"

#include <QJsonObject>
#include <cmath>
#include <functional>
#include <stdexcept>

namespace kbxcli {

namespace {

// The search on the terminal's progress bar, one step per pair.
class DetectBar : public kbxops::DetectObserver {
public:
    DetectBar(ProgressBar& bar, const MsgStr& messages)
        : m_bar(bar)
        , m_messages(messages) {}
    void trying(const kbxops::DevicePair&, int index, int count) override {
        if (index == 0)
            m_bar.start(m_messages.text("Looking for the keyboard...", "鍵盤を探しています..."),
                        count);
        m_bar.setValue(index);
    }

private:
    ProgressBar& m_bar;
    const MsgStr& m_messages;
};

// Each request as a line for a person, as it is answered or not.
class PingLines : public kbxops::PingObserver {
public:
    PingLines(bool human, const MsgStr& messages, std::function<void(const QString&)> print)
        : m_human(human)
        , m_messages(messages)
        , m_print(std::move(print)) {}
    void replied(int index, int count, std::optional<double> ms) override {
        if (!m_human)
            return;
        const QString what = ms ? QStringLiteral("%1 ms").arg(*ms, 0, 'f', 2)
                                : m_messages.text("no reply", "応答なし");
        m_print(QStringLiteral("%1/%2  %3\n").arg(index + 1).arg(count).arg(what));
    }

private:
    bool m_human;
    const MsgStr& m_messages;
    std::function<void(const QString&)> m_print;
};

QJsonObject deviceDocument(int number, const QString& name) {
    QJsonObject device;
    device.insert(QStringLiteral("number"), number);
    device.insert(QStringLiteral("name"), name);
    return device;
}

// Milliseconds to the microsecond; none when nothing was answered.
QJsonValue milliseconds(std::optional<double> ms) {
    if (!ms)
        return QJsonValue();
    return std::round(*ms * 1000.0) / 1000.0;
}

} // namespace

void KbxTool::detect() {
    useVirtualKeyboardState();
    DetectBar bar(m_bar, m_messages);
    const kbxops::DetectResult result = kbxops::detectKeyboard(&bar);
    m_bar.finish();
    if (result.outcome != kbxops::DetectResult::Found)
        throw generalError(kbxops::detectFailureText(result.tried));

    const kbxops::DevicePair& pair = result.pair;
    if (m_options.save)
        kbxops::storeDeviceChoice(
            kbxops::DeviceChoice{{pair.input, pair.output}, pair.inputName, pair.outputName});

    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("input"), deviceDocument(pair.input, pair.inputName));
        document.insert(QStringLiteral("output"), deviceDocument(pair.output, pair.outputName));
        document.insert(QStringLiteral("virtual"), pair.isVirtual);
        document.insert(QStringLiteral("tried"), result.tried);
        printJson(document);
        return;
    }
    QString text =
        pair.isVirtual
            ? m_messages.text("No keyboard answered on the MIDI devices; only kbxman's built-in "
                              "virtual ZR-7316 did:\n",
                              "MIDI デバイスの鍵盤からは応答がなく、kbxman に組み込みの仮想 "
                              "ZR-7316 だけが応答しました:\n")
            : m_messages.text("The ZR-7316 answers on:\n", "ZR-7316 が応答したデバイス:\n");
    text += QStringLiteral("  input  %1  %2\n  output %3  %4\n")
                .arg(pair.input, 2)
                .arg(printable(pair.inputName))
                .arg(pair.output, 2)
                .arg(printable(pair.outputName));
    text +=
        m_messages.text("Device pairs tried: %1\n", "試したデバイスの組: %1\n").arg(result.tried);
    if (m_options.save)
        text +=
            m_messages.text("Stored in kbxman's settings.\n", "kbxman の設定に保存しました。\n");
    print(text);
}

void KbxTool::ping() {
    chooseDevices();
    const int count = m_options.count;
    PingLines lines(!m_options.json, m_messages, [this](const QString& t) { print(t); });
    const kbxops::PingResult result = kbxops::pingKeyboard(m_action->ports(), count, &lines);
    // Lost requests are what the test is for: its figures are the result, the status says so.
    m_failed = result.answered < result.sent;

    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("sent"), result.sent);
        document.insert(QStringLiteral("answered"), result.answered);
        document.insert(QStringLiteral("min_ms"), milliseconds(result.minMs()));
        document.insert(QStringLiteral("median_ms"), milliseconds(result.medianMs()));
        document.insert(QStringLiteral("max_ms"), milliseconds(result.maxMs()));
        printJson(document);
        return;
    }
    print(kbxops::pingSummaryText(result) + u'\n');
    if (m_failed)
        printError(kbxops::pingAdviceText());
}

} // namespace kbxcli
