#pragma once
// The program's own images: the toolbar images, the twelve keyboard images (16 and 32 pixels,
// same indexes in both sizes) and the application icon.

#include <QIcon>

namespace kbxapp {

// Toolbar images: 0 large icons, 1 small icons, 2 list, 3 details, 4 retrieve, 5 send,
// 6 get list, 7 import, 8 delete.
QIcon toolbarIcon(int index);

// Keyboard images: 0 top folder (not listed), 1 top folder (listed), 2 subfolder not present,
// 3 subfolder present, 4 subfolder present and selected, 5 empty slot, 6 tone, 7 DSP,
// 8 registration, 9 song, 10 rhythm, 11 the keyboard.
inline constexpr int kKbdImageCount = 12;
QIcon kbdIcon(int index);
// A tree image that changes to another image while its node is selected.
QIcon kbdTreeIcon(int image, int selectedImage);

QIcon appIcon();

} // namespace kbxapp
