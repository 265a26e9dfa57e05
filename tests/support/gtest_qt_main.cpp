// GoogleTest entry point for tests that run the real Qt event loop: the ports, the link and the
// streams wait with nested event loops, which need an application object.
#include <QCoreApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
