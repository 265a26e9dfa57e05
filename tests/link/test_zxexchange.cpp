// The exchange core under the link and the stream: one message at a time through the real ports
// and the Qt event loop, against a scripted device whose reports of sent messages can be held
// back and against the virtual ZR-7316.
#include "loopbackbackend.h"
#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxcancel.h"
#include "zxexchange.h"

#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Everything the exchange reports, in one list so the order shows.
struct Trace : ZxExchangeObserver {
    std::vector<std::string> events;
    void sent(const Bytes& message) override { events.push_back("sent " + toHex(message)); }
    void received(const Bytes& message) override { events.push_back("received " + toHex(message)); }
    void timedOut() override { events.emplace_back("timed out"); }
};

// A parameter request for the keyboard type, or a parameter value (the song delete), on records
// owned by the test.
struct Messages {
    ZxSysExAddress address;
    ZxSysExParam param;
    ZxSysExAddress replyAddress;
    ZxSysExParam replyParam;

    void prepare(ZxExchange& exchange) {
        exchange.encoder().setModelCode(kModelCode);
        exchange.encoder().setFixedByte(kFixedByte);
        exchange.encoder().setAddress(address);
        exchange.encoder().setParam(param);
        exchange.decoder().setAddress(replyAddress);
        exchange.decoder().setParam(replyParam);
    }
    void typeRequest(ZxExchange& exchange) {
        param = {};
        param.number = 0;
        param.width = 14;
        exchange.encoder().setType(ZxSysExType::ParamRequest);
    }
    void songDelete(ZxExchange& exchange, std::uint32_t song) {
        param = {};
        param.number = 32;
        param.width = 8;
        param.value = song;
        exchange.encoder().setType(ZxSysExType::ParamValue);
    }
};

const char* const kTypeRequest = "F0 44 11 01 7F 10 00 0D 00 00 00 F7";
const char* const kTypeOneReply = "F0 44 11 01 7F 00 00 0D 00 00 00 01 00 F7";
const char* const kDeleteSong1 = "F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7";

class ScriptedExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_backend = std::make_shared<kbxmidi::LoopbackBackend>();
        kbxmidi::DeviceRegistry::instance().setTestBackend(m_backend);
        m_messages.prepare(m_exchange);
        m_exchange.setObserver(&m_trace);
    }
    void TearDown() override {
        m_exchange.close();
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
    }

    // A request whose reply is already on its way, so it overtakes the report that the request
    // has left; that report stays held.
    void requestAnsweredBeforeItsReport() {
        m_backend->setHoldSentReports(true);
        m_backend->inject(hex(kTypeOneReply));
        m_messages.typeRequest(m_exchange);
        m_exchange.request();
        ASSERT_EQ(m_exchange.decoder().value(), 1u);
        ASSERT_EQ(m_backend->heldSentReports(), 1);
    }

    // Runs `what` from the event loop after `ms`; a timer still pending when the test ends goes
    // with the fixture, so it never reaches a later test.
    void after(int ms, std::function<void()> what) {
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        QObject::connect(timer.get(), &QTimer::timeout, std::move(what));
        timer->start(ms);
        m_timers.push_back(std::move(timer));
    }

    std::vector<std::unique_ptr<QTimer>> m_timers;
    bool m_ownReportReleased = false;
    std::shared_ptr<kbxmidi::LoopbackBackend> m_backend;
    Messages m_messages;
    Trace m_trace;
    ZxExchange m_exchange;
};

template <class F>
int sysExCode(F&& f) {
    try {
        f();
    } catch (const ZxSysExException& e) {
        return e.code();
    }
    return -1;
}

} // namespace

TEST_F(ScriptedExchangeTest, sendReturnsOnlyOnTheReportOfItsOwnMessage) {
    m_exchange.open(0, 0);
    requestAnsweredBeforeItsReport();

    // The request's late report comes first, the delete's own report some time later; the send
    // must wait for the second.
    after(0, [this] {
        m_backend->releaseSentReport();
        after(50, [this] {
            m_ownReportReleased = true;
            m_backend->releaseSentReport();
        });
    });
    m_messages.songDelete(m_exchange, 1);
    m_exchange.send();

    EXPECT_TRUE(m_ownReportReleased);
    EXPECT_TRUE(m_exchange.isOpen());
    ASSERT_EQ(m_backend->sentMessages().size(), 2u);
    EXPECT_EQ(m_backend->sentMessages()[1], hex(kDeleteSong1));
}

TEST_F(ScriptedExchangeTest, lateReportOfAnEarlierRequestDoesNotStartTheTimeOut) {
    m_exchange.open(0, 0);
    requestAnsweredBeforeItsReport();

    // The earlier request's report arrives at once, the second request's own report only after
    // more than the time-out, and its reply right after that. Timed from the earlier report, the
    // read would have run out; timed from its own, it is in time.
    after(0, [this] { m_backend->releaseSentReport(); });
    after(ZxExchange::kTimeoutMs + 150, [this] {
        m_backend->releaseSentReport();
        m_backend->inject(hex("F0 44 11 01 7F 00 00 0D 00 00 00 02 00 F7"));
    });
    m_messages.typeRequest(m_exchange);
    m_exchange.request();

    EXPECT_EQ(m_exchange.decoder().value(), 2u);
    EXPECT_TRUE(m_exchange.isOpen());
}

TEST_F(ScriptedExchangeTest, reportFromBeforeTheLastOpenNeverEndsAWait) {
    m_exchange.open(0, 0);
    requestAnsweredBeforeItsReport();
    // The earlier request's report is on its way to the port when the ports close and open again.
    m_backend->releaseSentReport();
    m_exchange.close();
    m_exchange.open(0, 0);

    after(50, [this] {
        m_ownReportReleased = true;
        m_backend->releaseSentReport();
    });
    m_messages.songDelete(m_exchange, 1);
    m_exchange.send();
    EXPECT_TRUE(m_ownReportReleased);
}

TEST_F(ScriptedExchangeTest, timeOutClosesBothPortsAndIsObserved) {
    m_exchange.open(0, 0);
    m_messages.typeRequest(m_exchange);
    EXPECT_EQ(sysExCode([&] { m_exchange.request(); }), ZxSysExException::Timeout);
    EXPECT_FALSE(m_exchange.isOpen());
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_EQ(m_backend->openOutputCount(), 0);
    EXPECT_EQ(m_trace.events,
              (std::vector<std::string>{std::string("sent ") + kTypeRequest, "timed out"}));
}

TEST_F(ScriptedExchangeTest, refusedReplyAndDriverFailureCloseBothPorts) {
    m_exchange.open(0, 0);
    // The keyboard's maker, but a message type that does not exist.
    m_backend->inject(hex("F0 44 11 01 7F 30 00 0D 00 00 00 F7"));
    m_messages.typeRequest(m_exchange);
    EXPECT_EQ(sysExCode([&] { m_exchange.request(); }), ZxSysExException::BadMessage);
    EXPECT_FALSE(m_exchange.isOpen());

    m_exchange.open(0, 0);
    m_backend->setSendError("device gone");
    m_messages.songDelete(m_exchange, 1);
    try {
        m_exchange.send();
        ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "MIDI SYSTEM ERROR: device gone");
    }
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_EQ(m_backend->openOutputCount(), 0);
    // A message that never left is not reported as sent.
    EXPECT_EQ(m_trace.events,
              (std::vector<std::string>{std::string("sent ") + kTypeRequest,
                                        "received F0 44 11 01 7F 30 00 0D 00 00 00 F7"}));
}

TEST_F(ScriptedExchangeTest, sendIntoClosedPortsIsRefusedBeforeAnythingLeaves) {
    m_messages.songDelete(m_exchange, 1);
    EXPECT_THROW(m_exchange.requireOpen(), std::runtime_error);
    m_backend->setOpenOutputError("busy");
    EXPECT_THROW(m_exchange.open(0, 0), std::runtime_error);
    EXPECT_TRUE(m_exchange.isOpen()); // the input, for the caller to close
    EXPECT_THROW(m_exchange.requireOpen(), std::runtime_error);
    m_exchange.close();
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_TRUE(m_backend->sentMessages().empty());
}

// ---- cancel -------------------------------------------------------------------------------

namespace {

template <class F>
bool cancelled(F&& f) {
    try {
        f();
    } catch (const ZxCancelledException& e) {
        EXPECT_EQ(e.code(), ZxCancelledException::Cancelled);
        return true;
    }
    return false;
}

} // namespace

TEST_F(ScriptedExchangeTest, cancelDuringARequestTakesItsReplyThenStops) {
    ZxCancellation cancellation;
    const ZxCancellation::Scope scope(cancellation);
    m_exchange.open(0, 0);
    after(20, [&] { cancellation.cancel(); });
    after(60, [this] { m_backend->inject(hex(kTypeOneReply)); });
    m_messages.typeRequest(m_exchange);
    EXPECT_TRUE(cancelled([&] { m_exchange.request(); }));
    EXPECT_FALSE(m_exchange.isOpen());
    EXPECT_EQ(m_trace.events, (std::vector<std::string>{std::string("sent ") + kTypeRequest,
                                                        std::string("received ") + kTypeOneReply}));
}

TEST_F(ScriptedExchangeTest, aCancelIsHonouredOnceAndAHoldDefersIt) {
    ZxCancellation cancellation;
    const ZxCancellation::Scope scope(cancellation);
    m_exchange.open(0, 0);
    cancellation.cancel();
    {
        // What a hold covers runs as if nothing had been asked.
        const ZxCancellation::Hold hold;
        m_backend->inject(hex(kTypeOneReply));
        m_messages.typeRequest(m_exchange);
        EXPECT_FALSE(cancelled([&] { m_exchange.request(); }));
    }
    EXPECT_FALSE(cancellation.isHonoured());
    m_messages.typeRequest(m_exchange);
    EXPECT_TRUE(cancelled([&] { m_exchange.request(); }));
    EXPECT_EQ(m_backend->sentMessages().size(), 1u);

    // The clean-up after a cancel (a put-back) talks to the keyboard undisturbed, also when the
    // user asks again.
    cancellation.cancel();
    m_exchange.open(0, 0);
    m_backend->inject(hex(kTypeOneReply));
    m_messages.typeRequest(m_exchange);
    EXPECT_FALSE(cancelled([&] { m_exchange.request(); }));
    EXPECT_EQ(m_exchange.decoder().value(), 1u);
}

TEST(ExchangeWithTheKeyboardTest, observerSeesEveryMessageBothWaysInOrder) {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    registry.setSystemDevicesEnabled(false);
    VirtualZr7316& keyboard = registry.virtualKeyboard();
    keyboard.setStateFile(QString());
    keyboard.factoryReset();
    keyboard.setFaults({});
    keyboard.clearLog();

    Messages messages;
    Trace trace;
    ZxExchange exchange;
    messages.prepare(exchange);
    exchange.setObserver(&trace);
    exchange.open(registry.virtualInputNumber(), registry.virtualOutputNumber());
    messages.typeRequest(exchange);
    exchange.request();
    EXPECT_EQ(exchange.decoder().value(), 0u);
    messages.songDelete(exchange, 1);
    exchange.send();
    ASSERT_TRUE(kbxtest::waitFor([&] { return keyboard.received().size() == 2; }));
    exchange.close();

    EXPECT_EQ(trace.events, (std::vector<std::string>{
                                std::string("sent ") + kTypeRequest,
                                "received F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7",
                                std::string("sent ") + kDeleteSong1,
                            }));
    EXPECT_EQ(keyboard.received()[0], hex(kTypeRequest));
    EXPECT_EQ(keyboard.received()[1], hex(kDeleteSong1));
    EXPECT_TRUE(keyboard.unexpected().empty());
}

// The process-wide trace: every exchange reports to it beside its own observer, also one that
// was made after the trace was set, and none does once it is unset.
TEST_F(ScriptedExchangeTest, processTraceHearsEveryExchangeWhileSet) {
    Trace processTrace;
    ZxExchange::setTrace(&processTrace);
    Messages otherMessages;
    ZxExchange other;
    otherMessages.prepare(other);

    m_exchange.open(0, 0);
    m_backend->inject(hex(kTypeOneReply));
    m_messages.typeRequest(m_exchange);
    m_exchange.request();
    m_exchange.close();
    other.open(0, 0);
    otherMessages.typeRequest(other);
    EXPECT_EQ(sysExCode([&] { other.request(); }), ZxSysExException::Timeout);
    ZxExchange::setTrace(nullptr);
    m_exchange.open(0, 0);
    m_messages.songDelete(m_exchange, 1);
    m_exchange.send();

    EXPECT_EQ(processTrace.events, (std::vector<std::string>{
                                       std::string("sent ") + kTypeRequest,
                                       std::string("received ") + kTypeOneReply,
                                       std::string("sent ") + kTypeRequest,
                                       "timed out",
                                   }));
    // The exchange's own observer is told as before.
    EXPECT_EQ(m_trace.events.back(), std::string("sent ") + kDeleteSong1);
}
