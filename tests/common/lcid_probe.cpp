// Prints what the message table makes of this process's locale: "<identifier> <J|E>". The tests
// run it with chosen locale variables, since the system locale is read once per process.
#include "msgstr.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const MsgStr messages;
    std::printf("%d %c\n", static_cast<int>(userDefaultLcid()), messages.isJapanese() ? 'J' : 'E');
    return 0;
}
