#include "settings.h"

#include <QDir>
#include <QTemporaryDir>
#include <QVariant>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {

const QString kOrganization = QStringLiteral("Tovanel");
const QString kApplication = QStringLiteral("KbxMan");
const QString kMidiGroup = QStringLiteral("MIDI");
const QString kInputKey = QStringLiteral("MIDI/InputDevice");
const QString kOutputKey = QStringLiteral("MIDI/OutputDevice");
const QString kInputNameKey = QStringLiteral("MIDI/InputDeviceName");
const QString kOutputNameKey = QStringLiteral("MIDI/OutputDeviceName");
const QString kDefaultKey = QStringLiteral("Directory/Default");
const QString kKeepHistoryKey = QStringLiteral("Safety/KeepHistory");
const QString kVerifySendKey = QStringLiteral("Safety/VerifySend");
const QString kVerifyRestoreKey = QStringLiteral("Safety/VerifyRestoreUndo");
const QString kAskBeforeChangeKey = QStringLiteral("Safety/AskBeforeChange");
const QString kWindowGroup = QStringLiteral("Window");

struct StoreOverride {
    QSettings::Format format;
    QString fileName;
};

const KbxSettings::DirectoryValueAccess* g_directoryAccess = nullptr;

std::optional<StoreOverride>& storeOverride() {
    static std::optional<StoreOverride> store;
    return store;
}

bool underTestRunner() {
    const QByteArray test = qgetenv("KBX_TEST");
    return test == "1";
}

// A test that forgot to redirect the store still writes here, never to the user's settings.
QString testRunnerStore() {
    static QTemporaryDir folder;
    return folder.filePath(QStringLiteral("KbxMan.ini"));
}

std::runtime_error settingsError(const QString& text) {
    return std::runtime_error(text.toStdString());
}

// Native stores keep integers as integers (a registry double word); text stores keep them as
// digits. Anything else is not a device number.
std::int32_t readDeviceNumber(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    if (!value.isValid())
        throw settingsError(QStringLiteral("The setting %1 is missing.").arg(key));

    bool ok = false;
    qlonglong number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::ULongLong: {
        const qulonglong unsignedNumber = value.toULongLong(&ok);
        ok = ok && unsignedNumber <= static_cast<qulonglong>(std::numeric_limits<qint32>::max());
        number = static_cast<qlonglong>(unsignedNumber);
        break;
    }
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    case QMetaType::QByteArray:
        number = value.toByteArray().trimmed().toLongLong(&ok);
        break;
    default:
        break;
    }
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        throw settingsError(QStringLiteral("The setting %1 is not an integer.").arg(key));
    return static_cast<std::int32_t>(number);
}

// A yes or no as a native store (a bool) or a text store ("true", "1") keeps it; anything else
// is the fallback.
bool readFlag(const QSettings& settings, const QString& key, bool fallback) {
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::UInt ||
        value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::ULongLong) {
        const qlonglong number = value.toLongLong();
        return number == 0 || number == 1 ? number == 1 : fallback;
    }
    const QString text = value.toString().trimmed().toLower();
    if (text == u"true" || text == u"1")
        return true;
    if (text == u"false" || text == u"0")
        return false;
    return fallback;
}

// A device name: missing is the empty text (settings from before names were kept).
QString readDeviceName(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return {};
    if (value.typeId() != QMetaType::QString)
        throw settingsError(QStringLiteral("The setting %1 is not text.").arg(key));
    return value.toString();
}

void writeDeviceName(QSettings& settings, const QString& key, const QString& name) {
    if (name.isEmpty())
        settings.remove(key);
    else
        settings.setValue(key, name);
}

} // namespace

KbxSettings::KbxSettings() {
    if (const auto& store = storeOverride()) {
        m_userStore = false;
        m_format = store->format;
        m_fileName = store->fileName;
    } else if (const QString file = qEnvironmentVariable("KBX_SETTINGS"); !file.isEmpty()) {
        m_userStore = false;
        m_format = QSettings::IniFormat;
        m_fileName = file;
    } else if (underTestRunner()) {
        m_userStore = false;
        m_format = QSettings::IniFormat;
        m_fileName = testRunnerStore();
    }
}

KbxSettings::KbxSettings(QSettings::Format format, const QString& fileName)
    : m_userStore(false)
    , m_format(format)
    , m_fileName(fileName) {}

void KbxSettings::setDefaultStore(QSettings::Format format, const QString& fileName) {
    if (fileName.isEmpty())
        storeOverride().reset();
    else
        storeOverride() = StoreOverride{format, fileName};
}

void KbxSettings::setUserDirectoryAccess(const DirectoryValueAccess* access) {
    g_directoryAccess = access;
}

std::unique_ptr<QSettings> KbxSettings::open() const {
    if (m_userStore) {
        auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                    kOrganization, kApplication);
        // Only the program's own key counts: not the organisation's nor the machine's.
        settings->setFallbacksEnabled(false);
        return settings;
    }
    return std::make_unique<QSettings>(m_fileName, m_format);
}

QString KbxSettings::location() const {
    return open()->fileName();
}

KbxSettings::LoadResult KbxSettings::load(std::int32_t& in, std::int32_t& out, QString& dir) const {
    return load(in, out, nullptr, nullptr, dir);
}

KbxSettings::LoadResult KbxSettings::load(Values& values) const {
    return load(values.inputDevice, values.outputDevice, &values.inputDeviceName,
                &values.outputDeviceName, values.defaultDir);
}

KbxSettings::LoadResult KbxSettings::load(std::int32_t& in, std::int32_t& out, QString* inName,
                                          QString* outName, QString& dir) const {
    const auto settings = open();
    if (settings->status() != QSettings::NoError)
        throw settingsError(QStringLiteral("The settings in %1 cannot be read.")
                                .arg(QDir::toNativeSeparators(settings->fileName())));

    // The window's and the safety net's own groups alone are no sign that the described values
    // were ever saved.
    QStringList groups = settings->childGroups();
    groups.removeAll(kWindowGroup);
    groups.removeAll(QStringLiteral("Safety"));
    if (groups.isEmpty() && settings->childKeys().isEmpty()) {
        in = 0;
        out = 0;
        if (inName)
            inName->clear();
        if (outName)
            outName->clear();
        dir = QDir::toNativeSeparators(QDir::currentPath());
        return LoadResult::FirstStart;
    }

    if (!settings->childGroups().contains(kMidiGroup))
        throw settingsError(QStringLiteral("The settings have no group %1.").arg(kMidiGroup));
    in = readDeviceNumber(*settings, kInputKey);
    out = readDeviceNumber(*settings, kOutputKey);
    if (inName)
        *inName = readDeviceName(*settings, kInputNameKey);
    if (outName)
        *outName = readDeviceName(*settings, kOutputNameKey);

    QVariant defaultDir;
    if (const DirectoryValueAccess* access = m_userStore ? g_directoryAccess : nullptr) {
        ValueRead read = access->read();
        if (!read.error.isEmpty())
            throw settingsError(QStringLiteral("The settings in %1 cannot be read.")
                                    .arg(QDir::toNativeSeparators(settings->fileName())));
        defaultDir = read.value;
    } else {
        defaultDir = settings->value(kDefaultKey);
    }
    if (!defaultDir.isValid()) {
        dir.clear();
    } else if (defaultDir.typeId() == QMetaType::QString) {
        dir = defaultDir.toString();
    } else {
        throw settingsError(QStringLiteral("The setting %1 is not text.").arg(kDefaultKey));
    }
    return LoadResult::Loaded;
}

void KbxSettings::save(std::int32_t in, std::int32_t out, const QString& dir) const {
    save(Values{in, out, QString(), QString(), dir});
}

void KbxSettings::saveDevices(const Values& values) const {
    const auto settings = open();
    settings->setValue(kInputKey, values.inputDevice);
    settings->setValue(kOutputKey, values.outputDevice);
    writeDeviceName(*settings, kInputNameKey, values.inputDeviceName);
    writeDeviceName(*settings, kOutputNameKey, values.outputDeviceName);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw settingsError(QStringLiteral("The settings cannot be saved to %1.")
                                .arg(QDir::toNativeSeparators(settings->fileName())));
}

void KbxSettings::save(const Values& values) const {
    // setValue creates whatever is missing: groups removed while the program ran come back.
    const auto settings = open();
    settings->setValue(kInputKey, values.inputDevice);
    settings->setValue(kOutputKey, values.outputDevice);
    writeDeviceName(*settings, kInputNameKey, values.inputDeviceName);
    writeDeviceName(*settings, kOutputNameKey, values.outputDeviceName);
    const QString& dir = values.defaultDir;
    const DirectoryValueAccess* access = m_userStore ? g_directoryAccess : nullptr;
    if (!access)
        settings->setValue(kDefaultKey, dir);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw settingsError(QStringLiteral("The settings cannot be saved to %1.")
                                .arg(QDir::toNativeSeparators(settings->fileName())));
    if (access) {
        if (!access->write(dir).isEmpty())
            throw settingsError(QStringLiteral("The settings cannot be saved to %1.")
                                    .arg(QDir::toNativeSeparators(settings->fileName())));
    }
}

KbxSettings::Safety KbxSettings::loadSafety() const {
    const Safety defaults;
    const auto settings = open();
    if (settings->status() != QSettings::NoError)
        return defaults;
    Safety safety;
    safety.keepHistory = readFlag(*settings, kKeepHistoryKey, defaults.keepHistory);
    safety.verifySend = readFlag(*settings, kVerifySendKey, defaults.verifySend);
    safety.verifyRestore = readFlag(*settings, kVerifyRestoreKey, defaults.verifyRestore);
    safety.askBeforeChange = readFlag(*settings, kAskBeforeChangeKey, defaults.askBeforeChange);
    return safety;
}

void KbxSettings::saveSafety(const Safety& safety) const {
    const auto settings = open();
    settings->setValue(kKeepHistoryKey, safety.keepHistory);
    settings->setValue(kVerifySendKey, safety.verifySend);
    settings->setValue(kVerifyRestoreKey, safety.verifyRestore);
    settings->setValue(kAskBeforeChangeKey, safety.askBeforeChange);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw settingsError(QStringLiteral("The settings cannot be saved to %1.")
                                .arg(QDir::toNativeSeparators(settings->fileName())));
}

namespace {

QByteArray readBytes(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

int readStyle(const QSettings& settings, const QString& key) {
    bool ok = false;
    const int style = settings.value(key).toInt(&ok);
    return ok && style >= 0 && style <= 3 ? style : -1;
}

} // namespace

KbxSettings::WindowValues KbxSettings::loadWindow() const {
    WindowValues values;
    const auto settings = open();
    if (settings->status() != QSettings::NoError)
        return values;
    settings->beginGroup(kWindowGroup);
    values.geometry = readBytes(*settings, QStringLiteral("Geometry"));
    values.state = readBytes(*settings, QStringLiteral("State"));
    values.panelDivider = readBytes(*settings, QStringLiteral("PanelDivider"));
    values.localDivider = readBytes(*settings, QStringLiteral("LocalDivider"));
    values.kbdDivider = readBytes(*settings, QStringLiteral("KbdDivider"));
    values.localViewStyle = readStyle(*settings, QStringLiteral("LocalViewStyle"));
    values.kbdViewStyle = readStyle(*settings, QStringLiteral("KbdViewStyle"));
    values.listAtStart = readFlag(*settings, QStringLiteral("ListAtStart"), values.listAtStart);
    const QVariant folder = settings->value(QStringLiteral("LocalFolder"));
    if (folder.typeId() == QMetaType::QString)
        values.localFolder = folder.toString();
    return values;
}

void KbxSettings::saveWindow(const WindowValues& values) const {
    const auto settings = open();
    settings->beginGroup(kWindowGroup);
    auto setBytes = [&](const QString& key, const QByteArray& bytes) {
        if (bytes.isEmpty())
            settings->remove(key);
        else
            settings->setValue(key, bytes);
    };
    setBytes(QStringLiteral("Geometry"), values.geometry);
    setBytes(QStringLiteral("State"), values.state);
    setBytes(QStringLiteral("PanelDivider"), values.panelDivider);
    setBytes(QStringLiteral("LocalDivider"), values.localDivider);
    setBytes(QStringLiteral("KbdDivider"), values.kbdDivider);
    auto setStyle = [&](const QString& key, int style) {
        if (style < 0)
            settings->remove(key);
        else
            settings->setValue(key, style);
    };
    setStyle(QStringLiteral("LocalViewStyle"), values.localViewStyle);
    setStyle(QStringLiteral("KbdViewStyle"), values.kbdViewStyle);
    settings->setValue(QStringLiteral("ListAtStart"), values.listAtStart);
    if (values.localFolder.isEmpty())
        settings->remove(QStringLiteral("LocalFolder"));
    else
        settings->setValue(QStringLiteral("LocalFolder"), values.localFolder);
    settings->endGroup();
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw settingsError(QStringLiteral("The settings cannot be saved to %1.")
                                .arg(QDir::toNativeSeparators(settings->fileName())));
}

QString KbxSettings::loadLanguage() const {
    const auto settings = open();
    const QString language = settings->value(kWindowGroup + QStringLiteral("/Language")).toString();
    return language == QStringLiteral("ja") ? language : QStringLiteral("en");
}

void KbxSettings::saveLanguage(const QString& language) const {
    const auto settings = open();
    settings->setValue(kWindowGroup + QStringLiteral("/Language"), language);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw settingsError(QStringLiteral("The settings cannot be saved to %1.")
                                .arg(QDir::toNativeSeparators(settings->fileName())));
}
