// kbxman runs once per user: a second start ends at once with exit code 1, and the lock of an
// instance that died does not keep the program from starting again.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class SingleInstanceTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

    QString lockPath() const { return m_runtime.filePath("KbxMan.lock"); }

    void start(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_runtime.path());
        env.insert("XDG_CONFIG_HOME", m_runtime.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KBX_TEST", "1");
        process.setProcessEnvironment(env);
        process.setProgram(KBXMAN_PATH);
        process.start();
        QVERIFY(process.waitForStarted());
    }

    // The lock names the process that holds it on its first line.
    qint64 lockHolder() const {
        QFile file(lockPath());
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        return file.readLine().trimmed().toLongLong();
    }

    void expectSecondStartRefused() {
        QProcess second;
        start(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_runtime.isValid());
        QVERIFY(QFile::setPermissions(m_runtime.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void secondStartEndsWithExitCodeOne() {
        QProcess first;
        start(first);
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), first.processId(), 10000);
        // The window is up (and listening) once the event loop runs.
        QTest::qWait(1000);
        expectSecondStartRefused();
        QCOMPARE(first.state(), QProcess::Running);
        // ... and the first window came forward.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += first.readAllStandardError()).contains("brought forward"),
                                 10000);
        first.kill();
        QVERIFY(first.waitForFinished(10000));
    }

    void lockOfADeadInstanceIsTakenOver() {
        QVERIFY(QFile::exists(lockPath())); // left behind by the killed instance
        QProcess next;
        start(next);
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), next.processId(), 10000);
        expectSecondStartRefused();
        next.kill();
        QVERIFY(next.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
