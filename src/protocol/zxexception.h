#pragma once
// The program's own failures: one class per layer, each carrying only an integer code. The text
// the user sees is chosen at the top from the message table, never here. ZxException does not
// derive from std::exception, so a catch can tell these apart from host failures, which are
// std::runtime_error with a text of their own.

#include <cstdint>

class ZxException {
public:
    explicit ZxException(std::int32_t code)
        : m_code(code) {}
    std::int32_t code() const { return m_code; }

private:
    std::int32_t m_code;
};

// The System Exclusive protocol and the keyboard link.
class ZxSysExException : public ZxException {
public:
    // 0-2 are the refusing handshake statuses of a transfer.
    enum Code : std::int32_t {
        Rejected = 0,
        CommunicationError = 1,
        UnknownStatus = 2,
        NoData = 3,     // a parameter reply too short for its value
        BadMessage = 4, // a message that cannot be built or parsed
        BadChecksum = 5,
        Timeout = 6,
    };
    using ZxException::ZxException;
};

// The keyboard drive: code 0 only (unknown keyboard type, or an item that cannot be deleted).
class ZxKbdDrvException : public ZxException {
public:
    enum Code : std::int32_t { UnknownKeyboard = 0 };
    using ZxException::ZxException;
};

// The data-file streams: 0 not a data file, 1 kind differs from the slot, 2 not enough memory,
// 3 the item read back after a send differs from the item sent.
class KbxStreamException : public ZxException {
public:
    enum Code : std::int32_t {
        NotKbxFile = 0,
        KindMismatch = 1,
        NotEnoughMemory = 2,
        VerifyMismatch = 3,
    };
    using ZxException::ZxException;
};

// The user stopped the keyboard action (ZxCancellation); code 0 only.
class ZxCancelledException : public ZxException {
public:
    enum Code : std::int32_t { Cancelled = 0 };
    using ZxException::ZxException;
};

// The main window's checks of the user's selection.
class OperateException : public ZxException {
public:
    enum Code : std::int32_t {
        NoSendSource = 0,
        NoSendTarget = 1,
        NoImportSource = 2,
        NoImportTarget = 3,
        NoDeleteTarget = 4,
        NotAcceptable = 5, // a drop on a folder entry of the keyboard list
        ListFirst = 6,
    };
    using ZxException::ZxException;
};
