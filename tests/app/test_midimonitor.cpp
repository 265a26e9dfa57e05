// The MIDI monitor of the main window (View > MIDI Monitor) against the virtual keyboard, through
// the real ports and the event loop: closed by default and deaf while closed, the lines of a list
// and of a failure, copy, clear, saving as text and as .syx, and the limit of lines it keeps.
#include "mainformtest.h"
#include "midimonitor.h"
#include "zxexchange.h"

#include <QClipboard>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace kbxtest;

class MidiMonitorTest : public QObject, public MainFormFixture {
    Q_OBJECT

    QAction* monitorAction() { return find<QAction>("MidiMonitorAction"); }
    MidiMonitor& monitor() { return m_form->midiMonitor(); }
    QStringList shown() {
        monitor().flush();
        return find<QPlainTextEdit>("MonitorView")->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    }
    static QString withoutTime(const QString& line) { return line.section(u' ', 1); }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        createForm();
    }
    void cleanup() { tearDown(); }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    void closedByDefaultAndDeafWhileClosed() {
        auto* view = find<QMenu>("ViewMenu");
        QVERIFY(view->actions().contains(monitorAction()));
        QCOMPARE(monitorAction()->text(), QStringLiteral("MIDI Monitor"));
        QVERIFY(!monitorAction()->isChecked());
        QVERIFY(!monitor().isVisible());
        QCOMPARE(ZxExchange::trace(), nullptr);
        QVERIFY(readList());
        QVERIFY(monitor().lines().isEmpty());

        monitorAction()->trigger();
        QVERIFY(monitor().isVisible());
        QVERIFY(monitor().isListening());
        QVERIFY(readList());
        QCOMPARE(monitor().lines().size(), 108); // 54 requests, 54 replies

        monitorAction()->trigger(); // closed again: no longer asked
        QVERIFY(!monitor().isVisible());
        QCOMPARE(ZxExchange::trace(), nullptr);
        QVERIFY(readList());
        QCOMPARE(monitor().lines().size(), 108);
    }

    void showsEveryMessageOfAListWithItsWords() {
        monitorAction()->trigger();
        QVERIFY(readList());
        const QStringList lines = monitor().lines();
        QCOMPARE(withoutTime(lines[0]),
                 QStringLiteral("> F0 44 11 01 7F 10 00 0D 00 00 00 F7  keyboard-type request"));
        QCOMPARE(withoutTime(lines[1]), QStringLiteral("< F0 44 11 01 7F 00 00 0D 00 00 00 00 00 "
                                                       "F7  parameter value: 0 (keyboard type)"));
        QVERIFY(lines.last().contains(u"  parameter value: "));
        QCOMPARE(shown(), lines);
    }

    void aTimeOutAndTheErrorAreLinesOfTheirOwn() {
        monitorAction()->trigger();
        VirtualZr7316::Faults faults;
        faults.silentFrom = 0;
        m_keyboard->setFaults(faults);
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList{QStringLiteral("MIDI Timeout")});
        const QStringList lines = monitor().lines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(withoutTime(lines[1]), QStringLiteral("! time-out: no reply within 200 ms"));
        QCOMPARE(withoutTime(lines[2]), QStringLiteral("! error: MIDI Timeout"));
        QCOMPARE(shown(), lines);
    }

    void copiesClearsAndSavesTheLinesAndTheMessages() {
        monitorAction()->trigger();
        QVERIFY(readList());
        const QStringList lines = monitor().lines();
        child<QPushButton>(&monitor(), "MonitorCopy")->click();
        QCOMPARE(QApplication::clipboard()->text(), lines.join(u'\n') + u'\n');

        QString asked;
        QString answer = m_local->filePath(QStringLiteral("trace.txt"));
        monitor().setFileChooser(
            [&](QWidget*, const QString&, const QString& filter, const QString&) {
                asked = filter;
                return answer;
            });
        child<QPushButton>(&monitor(), "MonitorSaveText")->click();
        QVERIFY(asked.contains(u"*.txt"));
        QCOMPARE(contents(answer), (lines.join(u'\n') + u'\n').toUtf8());

        answer = m_local->filePath(QStringLiteral("trace.syx"));
        child<QPushButton>(&monitor(), "MonitorSaveSysEx")->click();
        QVERIFY(asked.contains(u"*.syx"));
        const QByteArray syx = contents(answer);
        // The list's messages one after the other: 54 requests of 12 bytes, the type of 14,
        // 53 values of 17.
        QCOMPARE(syx.size(), 54 * 12 + 14 + 53 * 17);
        QCOMPARE(syx.left(26).toHex(' ').toUpper(),
                 QByteArray("F0 44 11 01 7F 10 00 0D 00 00 00 F7 "
                            "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));

        // Cancelled: nothing written; a file that cannot be written: an error box naming it.
        answer.clear();
        child<QPushButton>(&monitor(), "MonitorSaveText")->click();
        QVERIFY(m_errors.texts.isEmpty());
        answer = m_local->filePath(QStringLiteral("missing/trace.txt"));
        child<QPushButton>(&monitor(), "MonitorSaveText")->click();
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY(m_errors.texts[0].contains(QDir::toNativeSeparators(answer)));

        child<QPushButton>(&monitor(), "MonitorClear")->click();
        QVERIFY(monitor().lines().isEmpty());
        QVERIFY(shown().isEmpty());
    }

    void keepsTheLastTenThousandLines() {
        monitorAction()->trigger();
        for (int i = 0; i < MidiMonitor::kMaxLines + 50; ++i) {
            kbxops::TraceLine line;
            line.kind = kbxops::TraceLine::Failed;
            line.words = QString::number(i);
            monitor().traced(line);
        }
        const QStringList lines = monitor().lines();
        QCOMPARE(lines.size(), MidiMonitor::kMaxLines);
        QCOMPARE(lines.first(), QStringLiteral("0.0 ! 50"));
        QCOMPARE(shown(), lines);
    }
};

QTEST_MAIN(MidiMonitorTest)
#include "test_midimonitor.moc"
