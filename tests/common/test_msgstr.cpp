// The bilingual message table: every text in both languages at its code, the texts for codes the
// tables do not list, the choice of language from the locale, and describing caught exceptions.
#include "midi/mididevices.h"
#include "msgstr.h"
#include "testutil.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

using kbxtest::hex;

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

template <typename Get>
std::vector<std::string> all(Get get, int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back(get(i));
    return texts;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(MsgStrTest, englishTablesHoldEveryTextAtItsCode) {
    const MsgStr m(1033);
    EXPECT_FALSE(m.isJapanese());
    EXPECT_EQ(
        all([&](int i) { return m.GetSysExMsg(i); }, 7),
        (Strings{"rejected by keyboard", "communication error occured", "Unknown error", "no datas",
                 "invalid System Exclusive message ", "invaild checksum", "MIDI Timeout"}));
    EXPECT_EQ(m.GetKbdDrvMsg(0), "Unknown keyboard type");
    EXPECT_EQ(all([&](int i) { return m.GetStreamMsg(i); }, 4),
              (Strings{"No KBX file", "Data type is different", "Not enough memory",
                       "The data read back from the keyboard differs from the data sent"}));
    EXPECT_EQ(all([&](int i) { return m.GetOperateMsg(i); }, 7),
              (Strings{"Not select a source data", "Not select a distination data",
                       "Not select a source data", "Not select a distination data",
                       "Not select a data", "Not acceptable", "Get list first!!"}));
    EXPECT_EQ(
        all([&](int i) { return m.GetStatusMsg(i); }, 4),
        (Strings{"Get list...", "Sending a data...", "Receiving a data...", "Deleting a data..."}));
    EXPECT_EQ(m.GetFolderTypeMsg(0), "Folder");
}

TEST(MsgStrTest, japaneseTablesHoldEveryTextAtItsCode) {
    const MsgStr m(1041);
    EXPECT_TRUE(m.isJapanese());
    EXPECT_EQ(all([&](int i) { return m.GetSysExMsg(i); }, 7),
              (Strings{"通信を拒否されました", "通信エラーが発生しました", "未知のエラーです",
                       "データがありません", "メッセージのフォーマットが不正です",
                       "チェックサム・エラー", "MIDI通信タイムアウトエラー"}));
    EXPECT_EQ(m.GetKbdDrvMsg(0), "このキーボードとは通信できません");
    EXPECT_EQ(all([&](int i) { return m.GetStreamMsg(i); }, 4),
              (Strings{"このファイルはKBXファイルではありません",
                       "異なるタイプのデータは転送できません", "空き領域が足りません",
                       "キーボードから読み戻したデータが送信したデータと一致しません"}));
    EXPECT_EQ(all([&](int i) { return m.GetOperateMsg(i); }, 7),
              (Strings{"送信元のデータが指定されていません", "送信先のデータが指定されていません",
                       "受信元のデータが指定されていません", "受信先のデータが指定されていません",
                       "削除するデータが選択されていません", "ここには転送できません",
                       "まず一覧を取得して下さい"}));
    EXPECT_EQ(all([&](int i) { return m.GetStatusMsg(i); }, 4),
              (Strings{"一覧の取得中...", "データを送信中...", "データを受信中...",
                       "データを削除中..."}));
}

TEST(MsgStrTest, textsAreStoredAsTheseUtf8Bytes) {
    // The folder text ends in the half-width voiced sound mark U+FF9E after a full-width DA.
    EXPECT_EQ(bytesOf(MsgStr(1041).GetFolderTypeMsg(0)),
              hex("E3 83 95 E3 82 A1 E3 82 A4 E3 83 AB 20 E3 83 95 E3 82 A9 E3 83 AB E3 83 80"
                  "EF BE 9E"));
    EXPECT_EQ(bytesOf(MsgStr(1041).GetSysExMsg(6)),
              hex("4D 49 44 49 E9 80 9A E4 BF A1 E3 82 BF E3 82 A4 E3 83 A0 E3 82 A2 E3 82 A6 E3 83"
                  "88 E3 82 A8 E3 83 A9 E3 83 BC"));
    EXPECT_EQ(bytesOf(MsgStr(1033).GetSysExMsg(4)).back(), 0x20);
}

TEST(MsgStrTest, onlyIdentifier1041SelectsJapanese) {
    EXPECT_EQ(MsgStr(1041).GetSysExMsg(6), "MIDI通信タイムアウトエラー");
    for (std::int32_t lcid : {1033, 0, 17, 2057, 1042, 2052, 0x0811, -1041})
        EXPECT_EQ(MsgStr(lcid).GetSysExMsg(6), "MIDI Timeout") << lcid;
}

TEST(MsgStrTest, codesTheTablesDoNotListGiveTheUnknownErrorTextWithTheCode) {
    const MsgStr en(1033);
    const MsgStr ja(1041);
    EXPECT_EQ(en.GetSysExMsg(7), "Unknown error (code 7)");
    EXPECT_EQ(en.GetKbdDrvMsg(1), "Unknown error (code 1)");
    EXPECT_EQ(en.GetStreamMsg(4), "Unknown error (code 4)");
    EXPECT_EQ(en.GetOperateMsg(-1), "Unknown error (code -1)");
    EXPECT_EQ(en.GetSysExMsg(std::numeric_limits<std::int32_t>::min()),
              "Unknown error (code -2147483648)");
    EXPECT_EQ(en.GetStreamMsg(std::numeric_limits<std::int32_t>::max()),
              "Unknown error (code 2147483647)");
    EXPECT_EQ(ja.GetOperateMsg(7), "未知のエラーです (コード 7)");
    // Labels have no error text: an unknown index shows nothing.
    EXPECT_EQ(en.GetStatusMsg(4), "");
    EXPECT_EQ(ja.GetStatusMsg(-1), "");
    EXPECT_EQ(en.GetFolderTypeMsg(1), "");
}

TEST(DescribeExceptionTest, eachOwnClassGetsItsOwnGroup) {
    const MsgStr m(1033);
    auto describe = [&](auto exception) {
        return describeException(m, std::make_exception_ptr(exception));
    };
    // Code 0 of every group differs, so a wrong group shows.
    ErrorReport r = describe(ZxSysExException(6));
    EXPECT_EQ(r.className, "ZxSysExException");
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.message, "MIDI Timeout");
    r = describe(ZxSysExException(0));
    EXPECT_EQ(r.message, "rejected by keyboard");
    r = describe(ZxKbdDrvException(0));
    EXPECT_EQ(r.className, "ZxKbdDrvException");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.message, "Unknown keyboard type");
    r = describe(KbxStreamException(0));
    EXPECT_EQ(r.className, "KbxStreamException");
    EXPECT_EQ(r.message, "No KBX file");
    r = describe(OperateException(6));
    EXPECT_EQ(r.className, "OperateException");
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.message, "Get list first!!");
    r = describe(OperateException(5));
    EXPECT_EQ(r.message, "Not acceptable");
}

TEST(DescribeExceptionTest, japaneseTableGivesJapaneseTexts) {
    const ErrorReport r =
        describeException(MsgStr(1041), std::make_exception_ptr(KbxStreamException(2)));
    EXPECT_EQ(r.message, "空き領域が足りません");
}

TEST(DescribeExceptionTest, aCancelIsSaidInBothLanguages) {
    const auto cancelled = std::make_exception_ptr(ZxCancelledException(0));
    ErrorReport r = describeException(MsgStr(1033), cancelled);
    EXPECT_EQ(r.className, "ZxCancelledException");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.message, "Cancelled.");
    r = describeException(MsgStr(1041), cancelled);
    EXPECT_EQ(r.message, "キャンセルしました。");
}

TEST(DescribeExceptionTest, hostFailuresShowTheirOwnTextWithoutCode) {
    const MsgStr m(1041);
    ErrorReport r = describeException(
        m, std::make_exception_ptr(std::runtime_error("MIDI SYSTEM ERROR: no device")));
    EXPECT_EQ(r.className, "general");
    EXPECT_FALSE(r.code.has_value());
    EXPECT_EQ(r.message, "MIDI SYSTEM ERROR: no device");
    r = describeException(m, std::make_exception_ptr(std::out_of_range("vector::_M_range_check")));
    EXPECT_EQ(r.className, "general");
    EXPECT_EQ(r.message, "vector::_M_range_check");
    r = describeException(m, std::make_exception_ptr(std::runtime_error("")));
    EXPECT_EQ(r.className, "general");
    EXPECT_EQ(r.message, "");
}

TEST(DescribeExceptionTest, aDeviceThatWentIsNamedInTheUsersLanguage) {
    const auto lost = std::make_exception_ptr(kbxmidi::DeviceLost("USB MIDI 1"));
    ErrorReport r = describeException(MsgStr(1033), lost);
    EXPECT_EQ(r.className, "general");
    EXPECT_FALSE(r.code.has_value());
    EXPECT_EQ(r.message, "The MIDI device \"USB MIDI 1\" has been disconnected.");
    r = describeException(MsgStr(1041), lost);
    EXPECT_EQ(r.message, "MIDI デバイス「USB MIDI 1」の接続が切れました。");
}

TEST(DescribeExceptionTest, anythingElseIsAGeneralErrorWithEmptyText) {
    const MsgStr m(1033);
    ErrorReport r = describeException(m, std::make_exception_ptr(42));
    EXPECT_EQ(r.className, "general");
    EXPECT_FALSE(r.code.has_value());
    EXPECT_EQ(r.message, "");
    r = describeException(m, std::exception_ptr());
    EXPECT_EQ(r.className, "general");
    EXPECT_EQ(r.message, "");
}

TEST(DescribeExceptionTest, aNotedFailureKeepsClassAndCodeAndGainsTheNoteInTheTablesLanguage) {
    const auto noted = std::make_exception_ptr(
        NotedException(std::make_exception_ptr(ZxSysExException(ZxSysExException::Timeout)),
                       QStringLiteral("The song that was in the slot has been put back."),
                       QString::fromUtf8("スロットにあった曲を元に戻しました。")));
    ErrorReport r = describeException(MsgStr(1033), noted);
    EXPECT_EQ(r.className, "ZxSysExException");
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.message, "MIDI Timeout. The song that was in the slot has been put back.");
    r = describeException(MsgStr(1041), noted);
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.message, "MIDI通信タイムアウトエラー。スロットにあった曲を元に戻しました。");

    // A host failure keeps its own text and its full stop.
    r = describeException(MsgStr(1033),
                          std::make_exception_ptr(NotedException(
                              std::make_exception_ptr(std::runtime_error("Disk full.")),
                              QStringLiteral("Nothing has been changed."), QStringLiteral("x"))));
    EXPECT_EQ(r.className, "general");
    EXPECT_FALSE(r.code.has_value());
    EXPECT_EQ(r.message, "Disk full. Nothing has been changed.");
}

TEST(DescribeExceptionTest, unlistedCodesAndTheBaseClassDoNotCrash) {
    const MsgStr m(1033);
    ErrorReport r = describeException(m, std::make_exception_ptr(ZxKbdDrvException(9)));
    EXPECT_EQ(r.className, "ZxKbdDrvException");
    EXPECT_EQ(r.code, 9);
    EXPECT_EQ(r.message, "Unknown error (code 9)");
    r = describeException(m, std::make_exception_ptr(ZxException(3)));
    EXPECT_EQ(r.className, "ZxException");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.message, "Unknown error (code 3)");
}

namespace {

// Runs the probe with only the given locale variables set; returns its output line.
std::string probe(const std::vector<std::pair<QString, QString>>& vars) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANG", "LANGUAGE"})
        env.remove(QString::fromLatin1(name));
    for (const auto& [name, value] : vars)
        env.insert(name, value);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KBX_LCID_PROBE), {});
    if (!process.waitForFinished(30000))
        return "probe did not finish";
    return process.readAllStandardOutput().trimmed().toStdString();
}

} // namespace

// Windows takes the user's locale from its own settings, never from these variables (under Wine:
// from the environment Wine itself started with); scripts/windows/test checks 1041 there.
#ifdef _WIN32
#define SKIP_ON_WINDOWS() GTEST_SKIP() << "the locale variables do not choose the locale on Windows"
#else
#define SKIP_ON_WINDOWS() (void)0
#endif

TEST(UserDefaultLcidTest, japaneseInJapanIs1041AndAnythingElse1033) {
    SKIP_ON_WINDOWS();
    EXPECT_EQ(probe({{"LANG", "ja_JP.UTF-8"}}), "1041 J");
    EXPECT_EQ(probe({{"LANG", "en_US.UTF-8"}}), "1033 E");
    EXPECT_EQ(probe({{"LANG", "en_JP.UTF-8"}}), "1033 E"); // Japan, but English
    EXPECT_EQ(probe({{"LANG", "de_DE.UTF-8"}}), "1033 E");
    EXPECT_EQ(probe({{"LANG", "C"}}), "1033 E");
    EXPECT_EQ(probe({}), "1033 E");
}

TEST(UserDefaultLcidTest, lcAllOverridesLang) {
    SKIP_ON_WINDOWS();
    EXPECT_EQ(probe({{"LANG", "en_US.UTF-8"}, {"LC_ALL", "ja_JP.UTF-8"}}), "1041 J");
    EXPECT_EQ(probe({{"LANG", "ja_JP.UTF-8"}, {"LC_ALL", "en_GB.UTF-8"}}), "1033 E");
}

namespace {

// A text of ours as the sources give it: an English literal and, as the next argument, its
// Japanese one (localText, MsgStr::text, the file errors, a noted failure's sentence).
struct TextPair {
    QString where;
    QString english;
    QString japanese;
};

// The string literals of a C++ source in order, adjacent ones joined, each with the code before
// it since the previous one; comments and character literals skipped.
struct Literal {
    QString text;
    QString gap;
    int line = 0;
};

std::vector<Literal> literalsOf(const QByteArray& source) {
    std::vector<Literal> literals;
    QByteArray gap;
    int line = 1;
    for (qsizetype i = 0; i < source.size(); ++i) {
        const char c = source[i];
        if (c == '\n')
            ++line;
        if (c == '/' && source.mid(i, 2) == "//") {
            i = source.indexOf('\n', i) - 1;
            if (i < 0)
                break;
        } else if (c == '/' && source.mid(i, 2) == "/*") {
            const qsizetype end = source.indexOf("*/", i + 2);
            if (end < 0)
                break;
            line += int(source.mid(i, end - i).count('\n'));
            i = end + 1;
        } else if (c == '\'') {
            i = source.indexOf('\'', i + (source[i + 1] == '\\' ? 3 : 2));
            if (i < 0)
                break;
        } else if (c == '"' && i > 0 && source[i - 1] == 'R') {
            // A raw string: R"delimiter( ... )delimiter"
            const qsizetype open = source.indexOf('(', i);
            const QByteArray close = ')' + source.mid(i + 1, open - i - 1) + '"';
            const qsizetype end = source.indexOf(close, open);
            if (open < 0 || end < 0)
                break;
            line += int(source.mid(i, end - i).count('\n'));
            literals.push_back({QString::fromUtf8(source.mid(open + 1, end - open - 1)),
                                QString::fromUtf8(gap), line});
            gap.clear();
            i = end + close.size() - 1;
        } else if (c == '"') {
            QByteArray text;
            qsizetype j = i + 1;
            for (; j < source.size() && source[j] != '"'; ++j) {
                if (source[j] == '\\') {
                    ++j;
                    text += source[j] == 'n' ? '\n' : source[j];
                } else {
                    text += source[j];
                }
            }
            const bool joins = !literals.empty() && gap.trimmed().isEmpty();
            if (joins)
                literals.back().text += QString::fromUtf8(text);
            else
                literals.push_back({QString::fromUtf8(text), QString::fromUtf8(gap), line});
            gap.clear();
            i = j;
        } else {
            gap += c;
        }
    }
    return literals;
}

bool hasJapanese(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3000; });
}

std::set<QString> placeholders(const QString& text) {
    std::set<QString> found;
    static const QRegularExpression number(QStringLiteral("%[1-9]"));
    for (const QRegularExpressionMatch& m : number.globalMatch(text))
        found.insert(m.captured());
    return found;
}

std::vector<TextPair> sourcePairs() {
    static const QRegularExpression between(
        QStringLiteral("^\\s*\\)?(\\s*\\.arg\\([^;]*?\\))*\\s*,\\s*"
                       "(QString::fromUtf8\\s*\\(|QStringLiteral\\s*\\()?\\s*$"));
    std::vector<TextPair> pairs;
    QDirIterator it(QStringLiteral(KBX_SOURCE_DIR "/src"),
                    {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const std::vector<Literal> literals = literalsOf(file.readAll());
        for (std::size_t i = 1; i < literals.size(); ++i) {
            const Literal& english = literals[i - 1];
            const Literal& japanese = literals[i];
            if (!hasJapanese(japanese.text) || hasJapanese(english.text) ||
                !between.match(japanese.gap).hasMatch())
                continue;
            pairs.push_back({QStringLiteral("%1:%2").arg(file.fileName()).arg(japanese.line),
                             english.text, japanese.text});
        }
    }
    return pairs;
}

} // namespace

// Every text of ours is walked: both languages there, not the same words, the same placeholders.
TEST(MsgStrTest, everyTextOfOursComesInBothLanguagesWithTheSamePlaceholders) {
    if (!QDir(QStringLiteral(KBX_SOURCE_DIR "/src")).exists())
        GTEST_SKIP() << "no source tree here";
    std::vector<TextPair> pairs = sourcePairs();
    EXPECT_GT(pairs.size(), std::size_t{110});
    // The described table, at every code.
    const MsgStr english(1033);
    const MsgStr japanese(1041);
    struct Group {
        const char* name;
        int count;
        std::function<std::string(const MsgStr&, int)> get;
    };
    const Group groups[] = {
        {"SysEx", 7, [](const MsgStr& m, int i) { return m.GetSysExMsg(i); }},
        {"KbdDrv", 1, [](const MsgStr& m, int i) { return m.GetKbdDrvMsg(i); }},
        {"Stream", 4, [](const MsgStr& m, int i) { return m.GetStreamMsg(i); }},
        {"Operate", 7, [](const MsgStr& m, int i) { return m.GetOperateMsg(i); }},
        {"Status", 4, [](const MsgStr& m, int i) { return m.GetStatusMsg(i); }},
        {"FolderType", 1, [](const MsgStr& m, int i) { return m.GetFolderTypeMsg(i); }},
    };
    for (const Group& group : groups) {
        for (int code = 0; code < group.count; ++code) {
            pairs.push_back({QStringLiteral("%1 %2").arg(QLatin1String(group.name)).arg(code),
                             QString::fromStdString(group.get(english, code)),
                             QString::fromStdString(group.get(japanese, code))});
        }
    }
    for (const TextPair& pair : pairs) {
        SCOPED_TRACE(pair.where.toStdString());
        EXPECT_FALSE(pair.english.trimmed().isEmpty());
        EXPECT_FALSE(pair.japanese.trimmed().isEmpty());
        EXPECT_NE(pair.english, pair.japanese);
        EXPECT_EQ(placeholders(pair.english), placeholders(pair.japanese))
            << pair.english.toStdString() << " / " << pair.japanese.toStdString();
    }
}
