#include "errordetails.h"

#include "msgstr.h"
#include "ops/datafile.h"
#include "zxdata.h"
#include "zxexception.h"
#include "zxkinds.h"

#include <QFileInfo>
#include <memory>

namespace kbxapp {

namespace {

// The item of the file being sent, read again: a failure leaves nothing of it behind.
std::unique_ptr<ZxDataFile> sourceItem(const FailureContext& context) {
    if (context.sourceFile.isEmpty())
        return nullptr;
    try {
        return kbxops::readDataFile(context.sourceFile);
    } catch (...) {
        return nullptr; // changed or gone meanwhile: the line leaves it out
    }
}

QString streamLine(const MsgStr& messages, std::int32_t code, const FailureContext& context) {
    switch (code) {
    case KbxStreamException::NotKbxFile:
        if (context.sourceFile.isEmpty())
            return {};
        return messages
            .text("\"%1\" does not begin like a data file of this program.",
                  "「%1」はこのプログラムのデータファイルではありません。")
            .arg(QFileInfo(context.sourceFile).fileName());
    case KbxStreamException::KindMismatch: {
        const std::unique_ptr<ZxDataFile> item = sourceItem(context);
        if (!item || !context.slot)
            return {};
        return messages
            .text("The file holds a %1; the slot takes a %2.",
                  "ファイルのデータは%1、送信先は%2用です。")
            .arg(kindWord(messages, item->kind()), kindWord(messages, context.slot->kind()));
    }
    case KbxStreamException::NotEnoughMemory: {
        const std::unique_ptr<ZxDataFile> item = sourceItem(context);
        if (!item || !context.freeSongMemory)
            return {};
        return messages
            .text("The item needs %1 bytes; the keyboard has %2 bytes free.",
                  "このデータには%1バイト必要ですが、空きは%2バイトです。")
            .arg(item->size())
            .arg(*context.freeSongMemory);
    }
    default:
        return {};
    }
}

} // namespace

QString kindWord(const MsgStr& messages, std::uint16_t kind) {
    const ZxKindInfo* row = ZxKind::info(kind);
    if (!row)
        return QStringLiteral("0x%1").arg(kind, 4, 16, QLatin1Char('0'));
    return messages.isJapanese() ? QString::fromUtf8(row->wordJa) : QString::fromLatin1(row->title);
}

QString informativeLine(const MsgStr& messages, std::exception_ptr error,
                        const FailureContext& context) {
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const KbxStreamException& e) {
        return streamLine(messages, e.code(), context);
    } catch (const ZxSysExException& e) {
        if (e.code() != ZxSysExException::Timeout)
            return {};
        return messages.text(
            "The keyboard did not answer. Check that it is switched on, that the MIDI cables "
            "join its MIDI OUT to the computer's input and the computer's output to its MIDI IN, "
            "and that File > Preference names the devices it is connected to.",
            "キーボードが応答しません。電源が入っているか、MIDIケーブルがキーボードの MIDI OUT "
            "をコンピュータの入力に、コンピュータの出力をキーボードの MIDI IN につないでいるか、"
            "File > Preference のデバイスが接続先と合っているかを確かめて下さい。");
    } catch (...) {
        return {};
    }
}

} // namespace kbxapp
