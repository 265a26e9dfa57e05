// The observer list shared by every stream: sorted by identity, no duplicates, told in order.
#include "kbxstream.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::vector<const void*> g_told;

class Recorder : public KbxStreamObserver {
public:
    void update(KbxStream& stream) override {
        g_told.push_back(this);
        EXPECT_EQ(stream.position(), 42u);
    }
};

class NotifyingStream : public KbxStream {
public:
    void read(ZxDataFile&) override {}
    void write(ZxDataFile&) override { notifyAll(); }
    std::uint32_t position() override { return 42; }
    std::uint32_t size() override { return 0; }
};

} // namespace

TEST(KbxStreamTest, observersAreToldOnceEachInOrderOfIdentity) {
    Recorder observers[4];
    NotifyingStream stream;
    for (int i : {2, 0, 3, 2, 1, 0})
        stream.attach(&observers[i]);
    stream.attach(nullptr);
    g_told.clear();
    ZxDataFile item(ZxKind::Tone);
    stream.write(item);
    ASSERT_EQ(g_told.size(), 4u);
    for (std::size_t i = 1; i < g_told.size(); ++i)
        EXPECT_TRUE(std::less<const void*>()(g_told[i - 1], g_told[i]));
}

TEST(KbxStreamTest, streamWithoutObserversNotifiesNobody) {
    NotifyingStream stream;
    g_told.clear();
    ZxDataFile item(ZxKind::Tone);
    stream.write(item);
    EXPECT_TRUE(g_told.empty());
}
