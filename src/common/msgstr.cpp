#include "msgstr.h"

#include "midi/mididevices.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QLocale>
#endif

#include <array>
#include <string>

namespace {

// One language's texts, group by group; the texts are the program's own, misspellings and the
// trailing blank of "invalid System Exclusive message " included.
struct TextSet {
    std::array<const char*, 7> sysEx;
    std::array<const char*, 1> kbdDrv;
    std::array<const char*, 4> stream;
    std::array<const char*, 7> operate;
    std::array<const char*, 4> status;
    std::array<const char*, 1> folderType;
    const char* unknownCode; // prefix of the text for a code the group does not list
};

const TextSet kJapanese = {
    {
        "通信を拒否されました",
        "通信エラーが発生しました",
        "未知のエラーです",
        "データがありません",
        "メッセージのフォーマットが不正です",
        "チェックサム・エラー",
        "MIDI通信タイムアウトエラー",
    },
    {
        "このキーボードとは通信できません",
    },
    {
        "このファイルはKBXファイルではありません",
        "異なるタイプのデータは転送できません",
        "空き領域が足りません",
        // Ours: a send read back that does not match what was sent.
        "キーボードから読み戻したデータが送信したデータと一致しません",
    },
    {
        "送信元のデータが指定されていません",
        "送信先のデータが指定されていません",
        "受信元のデータが指定されていません",
        "受信先のデータが指定されていません",
        "削除するデータが選択されていません",
        "ここには転送できません",
        "まず一覧を取得して下さい",
    },
    {
        "一覧の取得中...",
        "データを送信中...",
        "データを受信中...",
        "データを削除中...",
    },
    {
        // Ends in the half-width voiced sound mark, as the original table stored it.
        "ファイル フォルダ\uFF9E",
    },
    "未知のエラーです (コード ",
};

const TextSet kEnglish = {
    {
        "rejected by keyboard",
        "communication error occured",
        "Unknown error",
        "no datas",
        "invalid System Exclusive message ",
        "invaild checksum",
        "MIDI Timeout",
    },
    {
        "Unknown keyboard type",
    },
    {
        "No KBX file",
        "Data type is different",
        "Not enough memory",
        "The data read back from the keyboard differs from the data sent",
    },
    {
        "Not select a source data",
        "Not select a distination data",
        "Not select a source data",
        "Not select a distination data",
        "Not select a data",
        "Not acceptable",
        "Get list first!!",
    },
    {
        "Get list...",
        "Sending a data...",
        "Receiving a data...",
        "Deleting a data...",
    },
    {
        "Folder",
    },
    "Unknown error (code ",
};

const TextSet& texts(bool japanese) {
    return japanese ? kJapanese : kEnglish;
}

std::string unknownCodeText(const TextSet& set, std::int32_t code) {
    return std::string(set.unknownCode) + std::to_string(code) + ")";
}

// A code the group does not list (a newer layer, a damaged value) still gets a readable text
// that shows the code, instead of an index past the table.
template <std::size_t N>
std::string errorText(const TextSet& set, const std::array<const char*, N>& group,
                      std::int32_t code) {
    if (code >= 0 && static_cast<std::size_t>(code) < N)
        return group[static_cast<std::size_t>(code)];
    return unknownCodeText(set, code);
}

// Status and folder-type texts are labels, not errors: an unknown index shows nothing.
template <std::size_t N>
std::string labelText(const std::array<const char*, N>& group, std::int32_t index) {
    if (index >= 0 && static_cast<std::size_t>(index) < N)
        return group[static_cast<std::size_t>(index)];
    return {};
}

} // namespace

std::int32_t userDefaultLcid() {
#ifdef Q_OS_WIN
    return static_cast<std::int32_t>(GetUserDefaultLCID());
#else
    // QLocale::system() follows LC_ALL, then the category variables, then LANG.
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::Japanese && locale.territory() == QLocale::Japan)
        return kLcidJapanese;
    return 1033;
#endif
}

MsgStr::MsgStr()
    : MsgStr(userDefaultLcid()) {}

MsgStr::MsgStr(std::int32_t lcid)
    : m_japanese(lcid == kLcidJapanese) {}

std::string MsgStr::GetSysExMsg(std::int32_t code) const {
    const TextSet& set = texts(m_japanese);
    return errorText(set, set.sysEx, code);
}

std::string MsgStr::GetKbdDrvMsg(std::int32_t code) const {
    const TextSet& set = texts(m_japanese);
    return errorText(set, set.kbdDrv, code);
}

std::string MsgStr::GetStreamMsg(std::int32_t code) const {
    const TextSet& set = texts(m_japanese);
    return errorText(set, set.stream, code);
}

std::string MsgStr::GetOperateMsg(std::int32_t code) const {
    const TextSet& set = texts(m_japanese);
    return errorText(set, set.operate, code);
}

std::string MsgStr::GetStatusMsg(std::int32_t index) const {
    return labelText(texts(m_japanese).status, index);
}

std::string MsgStr::GetFolderTypeMsg(std::int32_t index) const {
    return labelText(texts(m_japanese).folderType, index);
}

QString MsgStr::text(const char* english, const char* japanese) const {
    return QString::fromUtf8(m_japanese ? japanese : english);
}

QString localText(const char* english, const char* japanese) {
    return MsgStr().text(english, japanese);
}

QString localText(const kbxio::Reason& why) {
    return MsgStr().isJapanese() ? why.japanese : why.english;
}

NotedException::NotedException(std::exception_ptr original, QString english, QString japanese)
    : m_original(std::move(original))
    , m_english(std::move(english))
    , m_japanese(std::move(japanese)) {}

QString NotedException::note(bool japanese) const {
    return japanese ? m_japanese : m_english;
}

namespace {

// The note as a sentence of its own after the failure's text.
std::string withNote(const std::string& message, const QString& note, bool japanese) {
    if (message.empty())
        return note.toStdString();
    const QString text = QString::fromStdString(message);
    const QChar last = text.back();
    const bool ended = last == u'.' || last == u'!' || last == u'\u3002' || last == u'\uFF01';
    const QString stop = ended      ? QString()
                         : japanese ? QStringLiteral("\u3002")
                                    : QStringLiteral(".");
    const QString gap = japanese ? QString() : QStringLiteral(" ");
    return (text + stop + gap + note).toStdString();
}

} // namespace

ErrorReport describeException(const MsgStr& messages, std::exception_ptr error) {
    if (!error)
        return {"general", std::nullopt, {}};
    try {
        std::rethrow_exception(error);
    } catch (const NotedException& e) {
        ErrorReport report = describeException(messages, e.original());
        report.message =
            withNote(report.message, e.note(messages.isJapanese()), messages.isJapanese());
        return report;
    } catch (const ZxSysExException& e) {
        return {"ZxSysExException", e.code(), messages.GetSysExMsg(e.code())};
    } catch (const ZxKbdDrvException& e) {
        return {"ZxKbdDrvException", e.code(), messages.GetKbdDrvMsg(e.code())};
    } catch (const KbxStreamException& e) {
        return {"KbxStreamException", e.code(), messages.GetStreamMsg(e.code())};
    } catch (const OperateException& e) {
        return {"OperateException", e.code(), messages.GetOperateMsg(e.code())};
    } catch (const ZxCancelledException& e) {
        // Not in the described table: the user's own stop of an action.
        return {"ZxCancelledException", e.code(),
                messages.text("Cancelled.", "キャンセルしました。").toStdString()};
    } catch (const ZxException& e) {
        // The base class is never thrown on its own; if it is, the code is all there is to say.
        return {"ZxException", e.code(), unknownCodeText(texts(messages.isJapanese()), e.code())};
    } catch (const kbxmidi::DeviceLost& e) {
        return {"general", std::nullopt,
                messages
                    .text("The MIDI device \"%1\" has been disconnected.",
                          "MIDI デバイス「%1」の接続が切れました。")
                    .arg(QString::fromStdString(e.deviceName()))
                    .toStdString()};
    } catch (const kbxio::FileError& e) {
        return {"general", std::nullopt, e.text(messages.isJapanese()).toStdString()};
    } catch (const std::exception& e) {
        return {"general", std::nullopt, e.what()};
    } catch (...) {
        return {"general", std::nullopt, {}};
    }
}
