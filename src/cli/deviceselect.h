#pragma once
// Choosing a MIDI device from the command line: a device number, or a case-insensitive part of
// the device's name.

#include <QString>
#include <string>
#include <vector>

namespace kbxcli {

struct DeviceMatch {
    int number = -1; // -1: none
    QString error;   // why there is none: unknown, or ambiguous (with the candidates)
};

// A number in range chooses that device. Otherwise the text is looked up in the names (digits
// too, so "7316" finds the one device whose name holds them): a name
// equal to it ignoring case wins, else the one name that contains it ignoring case. No match, or
// several names that contain it, is an error.
DeviceMatch matchDevice(const QString& text, const std::vector<std::string>& names);

// The list a user needs to choose again: "  0  Virtual ZR-7316" lines.
QString deviceListing(const std::vector<std::string>& names);

} // namespace kbxcli
