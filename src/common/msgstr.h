#pragma once
// The bilingual message table: every text shown for an error or a running action, in Japanese or
// English, chosen once from the user's locale. Texts are UTF-8.

#include "wholefile.h"
#include "zxexception.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

inline constexpr std::int32_t kLcidJapanese = 1041; // Japanese as used in Japan

// The user's default locale identifier: GetUserDefaultLCID on Windows; elsewhere 1041 for
// Japanese in Japan (from the system locale) and 1033 otherwise.
std::int32_t userDefaultLcid();

// A text of ours that the message table does not hold (the additions around the described
// program): the Japanese one for the user's default locale 1041, else the English one. Both are
// UTF-8.
QString localText(const char* english, const char* japanese);
// A reason of the file helpers, in the same language.
QString localText(const kbxio::Reason& why);

class MsgStr {
public:
    MsgStr();                           // language of the user's default locale
    explicit MsgStr(std::int32_t lcid); // 1041 Japanese, anything else English

    bool isJapanese() const { return m_japanese; }
    // One of two texts of ours, in this table's language.
    QString text(const char* english, const char* japanese) const;

    std::string GetSysExMsg(std::int32_t code) const;
    std::string GetKbdDrvMsg(std::int32_t code) const;
    std::string GetStreamMsg(std::int32_t code) const;
    std::string GetOperateMsg(std::int32_t code) const;
    std::string GetStatusMsg(std::int32_t index) const;
    std::string GetFolderTypeMsg(std::int32_t index) const;

private:
    bool m_japanese;
};

// A failure and a sentence on what was done about it ("The song that was in the slot has been put
// back."). describeException reports the original's class, code and text and appends the note in
// the table's language, so an error box and kbxtool's JSON keep what failed and gain the note.
class NotedException {
public:
    NotedException(std::exception_ptr original, QString english, QString japanese);
    std::exception_ptr original() const { return m_original; }
    QString note(bool japanese) const;

private:
    std::exception_ptr m_original;
    QString m_english;
    QString m_japanese;
};

// What to tell the user about a failure: the class it came from, its code (none for the host's
// general error, std::exception), and the text.
struct ErrorReport {
    std::string className; // "ZxSysExException", ..., or "general"
    std::optional<std::int32_t> code;
    std::string message;
};

// Describes an exception thrown by any layer: the message table's text for the ZxException
// classes ("Cancelled." for ZxCancelledException), what() for std::exception, an empty text for
// anything else.
ErrorReport describeException(const MsgStr& messages, std::exception_ptr error);
