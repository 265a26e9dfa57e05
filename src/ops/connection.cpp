#include "ops/connection.h"

#include "common/msgstr.h"
#include "common/settings.h"
#include "midi/mididevices.h"
#include "protocol/zxkbd.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <algorithm>
#include <stdexcept>

namespace kbxops {

namespace {

QString listed(const std::vector<std::string>& names, int number) {
    if (number < 0 || number >= static_cast<int>(names.size()))
        return {};
    return QString::fromStdString(names[static_cast<std::size_t>(number)]);
}

// An ALSA name ends in the port's address ("client:port 24:0").
QString withoutAlsaAddress(const QString& name) {
    static const QRegularExpression address(QStringLiteral("\\s+\\d+:\\d+$"));
    return QString(name).remove(address);
}

// One side of a stored choice: the number to use now.
int resolveSide(int number, const QString& name, const std::vector<std::string>& names) {
    if (name.isEmpty())
        return number; // settings from before names were kept: the number as it always was
    if (sameDevice(listed(names, number), name))
        return number;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (sameDevice(QString::fromStdString(names[i]), name))
            return static_cast<int>(i);
    throw std::runtime_error(localText("The MIDI device \"%1\" is not connected.",
                                       "MIDI デバイス「%1」が接続されていません。")
                                 .arg(name)
                                 .toStdString());
}

// Lower case, without the ALSA address, direction words ("in", "MIDI OUT", "output 2") and the
// punctuation around them.
QString deviceStem(const QString& name) {
    static const QRegularExpression direction(
        QStringLiteral("\\b(midi\\s*)?(in|out|input|output|capture|playback)\\s*\\d*\\b"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression noise(QStringLiteral("[\\s()\\[\\]_-]+"));
    QString stem = withoutAlsaAddress(name).toLower();
    stem.remove(direction);
    stem.replace(noise, QStringLiteral(" "));
    return stem.trimmed();
}

// The client part of a JACK or ALSA name ("client:port"); JACK gives a second client of one
// name a suffix ("ZR-7316 Virtual-01").
QString clientOf(const QString& name) {
    static const QRegularExpression suffix(QStringLiteral("-\\d+$"));
    const qsizetype colon = name.indexOf(u':');
    if (colon <= 0)
        return {};
    return name.left(colon).remove(suffix).trimmed().toLower();
}

} // namespace

// ---- the devices to use

DeviceChoice storedDeviceChoice() {
    KbxSettings::Values values;
    try {
        KbxSettings().load(values);
    } catch (const std::exception& error) {
        throw std::runtime_error(
            localText("kbxman's settings cannot be read: %1", "kbxman の設定を読み込めません: %1")
                .arg(QString::fromUtf8(error.what()))
                .toStdString());
    }
    return DeviceChoice{
        {values.inputDevice, values.outputDevice}, values.inputDeviceName, values.outputDeviceName};
}

void storeDeviceChoice(const DeviceChoice& choice) {
    KbxSettings::Values values;
    values.inputDevice = choice.devices.input;
    values.outputDevice = choice.devices.output;
    values.inputDeviceName = choice.inputName;
    values.outputDeviceName = choice.outputName;
    try {
        KbxSettings().saveDevices(values);
    } catch (const std::exception& error) {
        throw std::runtime_error(
            localText("kbxman's settings cannot be saved: %1", "kbxman の設定を保存できません: %1")
                .arg(QString::fromUtf8(error.what()))
                .toStdString());
    }
}

DeviceChoice namedChoice(Devices devices, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs) {
    return DeviceChoice{devices, listed(inputs, devices.input), listed(outputs, devices.output)};
}

bool sameDevice(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    return a == b || withoutAlsaAddress(a) == withoutAlsaAddress(b);
}

Resolution resolveDevices(const DeviceChoice& stored, const std::vector<std::string>& inputs,
                          const std::vector<std::string>& outputs) {
    Resolution resolution;
    resolution.choice = stored;
    resolution.choice.devices.input = resolveSide(stored.devices.input, stored.inputName, inputs);
    resolution.choice.devices.output =
        resolveSide(stored.devices.output, stored.outputName, outputs);
    resolution.moved = resolution.choice.devices.input != stored.devices.input ||
                       resolution.choice.devices.output != stored.devices.output;
    return resolution;
}

Resolution resolveDevices(const DeviceChoice& stored) {
    // Listing costs a client of every MIDI system; settings without names need none.
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const std::vector<std::string> inputs =
        stored.inputName.isEmpty() ? std::vector<std::string>{} : registry.inputNames();
    const std::vector<std::string> outputs =
        stored.outputName.isEmpty() ? std::vector<std::string>{} : registry.outputNames();
    return resolveDevices(stored, inputs, outputs);
}

// ---- finding the keyboard

bool namesMatch(const QString& input, const QString& output) {
    const QString inStem = deviceStem(input);
    if (!inStem.isEmpty() && inStem == deviceStem(output))
        return true;
    const QString client = clientOf(withoutAlsaAddress(input));
    return !client.isEmpty() && client == clientOf(withoutAlsaAddress(output));
}

std::vector<DevicePair> detectCandidates(const std::vector<std::string>& inputs,
                                         const std::vector<std::string>& outputs, int virtualInput,
                                         int virtualOutput) {
    const bool hasVirtual = virtualInput >= 0 && virtualOutput >= 0;
    std::vector<DevicePair> matching;
    std::vector<DevicePair> rest;
    for (int in = 0; in < static_cast<int>(inputs.size()); ++in) {
        if (in == virtualInput)
            continue;
        for (int out = 0; out < static_cast<int>(outputs.size()); ++out) {
            if (out == virtualOutput)
                continue;
            DevicePair pair{in, out, listed(inputs, in), listed(outputs, out), false};
            (namesMatch(pair.inputName, pair.outputName) ? matching : rest).push_back(pair);
        }
    }
    std::vector<DevicePair> candidates = std::move(matching);
    candidates.insert(candidates.end(), rest.begin(), rest.end());
    const std::size_t room = static_cast<std::size_t>(kMaxDetectPairs - (hasVirtual ? 1 : 0));
    if (candidates.size() > room)
        candidates.resize(room);
    if (hasVirtual)
        candidates.push_back(DevicePair{virtualInput, virtualOutput, listed(inputs, virtualInput),
                                        listed(outputs, virtualOutput), true});
    return candidates;
}

DetectResult detectKeyboard(const std::vector<DevicePair>& candidates, DetectObserver* observer) {
    DetectResult result;
    const int count = static_cast<int>(candidates.size());
    ZxKbd link;
    for (int i = 0; i < count; ++i) {
        if (observer && observer->cancelled()) {
            result.outcome = DetectResult::Cancelled;
            return result;
        }
        const DevicePair& pair = candidates[static_cast<std::size_t>(i)];
        if (observer)
            observer->trying(pair, i, count);
        ++result.tried;
        std::uint32_t type = 0;
        try {
            link.open(pair.input, pair.output);
            type = link.readKeyboardType();
            link.close();
        } catch (const ZxException&) {
            // Silent, or an answer that is no parameter value (an echo of our own request on a
            // cable looped back): not the keyboard. The link has closed the ports.
            continue;
        } catch (const std::exception&) {
            // A device that cannot be opened, or went: not the keyboard either.
            try {
                link.close();
            } catch (const std::exception&) {
            }
            continue;
        }
        if (type == 0) {
            result.outcome = DetectResult::Found;
            result.pair = pair;
            return result;
        }
    }
    result.outcome = DetectResult::NotFound;
    return result;
}

DetectResult detectKeyboard(DetectObserver* observer) {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const std::vector<std::string> inputs = registry.inputNames();
    const std::vector<std::string> outputs = registry.outputNames();
    // The virtual keyboard is the last device of each list (of these lists: asking the registry
    // would read them again, and they may have changed meanwhile).
    const int virtualInput = inputs.empty() ? -1 : static_cast<int>(inputs.size()) - 1;
    const int virtualOutput = outputs.empty() ? -1 : static_cast<int>(outputs.size()) - 1;
    return detectKeyboard(detectCandidates(inputs, outputs, virtualInput, virtualOutput), observer);
}

QString detectFailureText(int tried) {
    return localText("No ZR-7316 answered on any of the %1 MIDI device pairs tried. Check that "
                     "the keyboard is on and cabled: the computer's MIDI OUT to the keyboard's "
                     "MIDI IN, the keyboard's MIDI OUT to the computer's MIDI IN.",
                     "試した %1 組の MIDI デバイスのどれからも ZR-7316 の応答がありませんでした。"
                     "鍵盤の電源とケーブルを確認してください: コンピューターの MIDI OUT を鍵盤の "
                     "MIDI IN に、鍵盤の MIDI OUT をコンピューターの MIDI IN につなぎます。")
        .arg(tried);
}

// ---- testing the connection

std::optional<double> PingResult::minMs() const {
    if (roundTripsMs.empty())
        return std::nullopt;
    return *std::min_element(roundTripsMs.begin(), roundTripsMs.end());
}

std::optional<double> PingResult::maxMs() const {
    if (roundTripsMs.empty())
        return std::nullopt;
    return *std::max_element(roundTripsMs.begin(), roundTripsMs.end());
}

std::optional<double> PingResult::medianMs() const {
    if (roundTripsMs.empty())
        return std::nullopt;
    std::vector<double> sorted = roundTripsMs;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t half = sorted.size() / 2;
    return sorted.size() % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
}

PingResult pingKeyboard(const Ports& ports, int count, PingObserver* observer) {
    PingResult result;
    ZxKbd link;
    for (int i = 0; i < count; ++i) {
        if (observer && observer->cancelled())
            break;
        // A time-out closes the link; the next request opens it again, so a late reply of the
        // last one cannot pass for the answer to this one.
        if (!link.isOpen())
            link.open(ports.input, ports.output);
        std::optional<double> roundTrip;
        QElapsedTimer clock;
        clock.start();
        try {
            link.readKeyboardType();
            roundTrip = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        } catch (const ZxException&) {
            // Lost, or garbled on the way: unanswered either way.
        }
        ++result.sent;
        if (roundTrip) {
            ++result.answered;
            result.roundTripsMs.push_back(*roundTrip);
        }
        if (observer)
            observer->replied(i, count, roundTrip);
    }
    link.close();
    return result;
}

QString pingSummaryText(const PingResult& result) {
    if (result.answered == 0)
        return localText("%1 of %2 requests answered.",
                         "%2 回の要求のうち %1 回に応答がありました。")
            .arg(result.answered)
            .arg(result.sent);
    const auto ms = [](std::optional<double> value) { return QString::number(*value, 'f', 2); };
    return localText("%1 of %2 requests answered; round trip min %3 ms, median %4 ms, max %5 ms.",
                     "%2 回の要求のうち %1 回に応答がありました。往復時間: 最小 %3 ms、中央値 %4 "
                     "ms、最大 %5 ms。")
        .arg(result.answered)
        .arg(result.sent)
        .arg(ms(result.minMs()), ms(result.medianMs()), ms(result.maxMs()));
}

QString pingAdviceText() {
    return localText(
        "Requests went unanswered. Check the cables: the computer's MIDI OUT goes to the "
        "keyboard's MIDI IN, and the keyboard's MIDI OUT to the computer's MIDI IN. Check the "
        "MIDI devices chosen in the preferences, or let kbxman find the keyboard (\"Find "
        "keyboard\" in the preferences, kbxtool detect).",
        "応答のない要求がありました。ケーブルを確認してください: コンピューターの MIDI OUT を"
        "鍵盤の MIDI IN に、鍵盤の MIDI OUT をコンピューターの MIDI IN につなぎます。設定で選ん"
        "だ MIDI デバイスを確認するか、鍵盤を探させてください (設定の「Find keyboard」、"
        "kbxtool detect)。");
}

} // namespace kbxops
