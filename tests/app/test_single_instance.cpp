// kbxman runs once per user: a second start ends at once with exit code 1, and the lock of an
// instance that died does not keep the program from starting again. Ended by the system while
// idle (here in the first start's preference dialog), it quits with exit code 0. --version and
// --help answer on the terminal without a window. A file named on the command line is shown by
// the window, the running one where there is one.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <csignal>
#endif

class SingleInstanceTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

    QString lockPath() const { return m_runtime.filePath("KbxMan.lock"); }

    void start(QProcess& process, const QStringList& arguments = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_runtime.path());
        // Windows keeps the lock in the user's temporary folder.
        env.insert("TMP", QDir::toNativeSeparators(m_runtime.path()));
        env.insert("TEMP", QDir::toNativeSeparators(m_runtime.path()));
        env.insert("XDG_CONFIG_HOME", m_runtime.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KBX_TEST", "1");
        process.setProcessEnvironment(env);
        process.setProgram(KBXMAN_PATH);
        process.setArguments(arguments);
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

    void versionAndHelpAnswerWithoutAWindow() {
        const std::pair<const char*, QByteArray> cases[] = {
            {"--version", QByteArray("kbxman " KBX_VERSION "\n")},
            {"--help", QByteArray("Usage: kbxman [FILE]\n")}};
        for (const auto& [option, first] : cases) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            // A window could not open here: the start would fail.
            env.insert("QT_QPA_PLATFORM", "no-such-platform");
            env.insert("XDG_RUNTIME_DIR", m_runtime.path());
            process.setProcessEnvironment(env);
            process.start(KBXMAN_PATH, {QString::fromLatin1(option)});
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 0);
            // Text written on Windows ends its lines with CR LF.
            const QByteArray out = process.readAllStandardOutput().replace("\r\n", "\n");
            QVERIFY2(out.startsWith(first), option);
        }
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

#ifdef Q_OS_UNIX
    void aSignalWhileIdleQuitsWithExitCodeZero_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aSignalWhileIdleQuitsWithExitCodeZero() {
        QFETCH(int, signal);
        QProcess process;
        start(process);
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), process.processId(), 10000);
        QTest::qWait(1000);
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }
#endif

    void aNamedFileIsShownByTheWindowThatRuns() {
        QTemporaryDir data;
        for (const char* name : {"a.kbx", "b.kbx"}) {
            QFile file(data.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        // Settings of a start before, so that no first-start dialog waits for an answer.
        {
            QSettings settings(data.filePath("KbxMan.ini"), QSettings::IniFormat);
            settings.setValue("MIDI/InputDevice", 0);
            settings.setValue("MIDI/OutputDevice", 0);
            settings.setValue("Directory/Default", data.path());
            settings.setValue("Window/ListAtStart", false);
        }
        qputenv("KBX_SETTINGS", data.filePath("KbxMan.ini").toUtf8());
        auto unset = qScopeGuard([] { qunsetenv("KBX_SETTINGS"); });
        const auto shown = [&](const char* name) {
            return "kbxman: showing " + QDir::toNativeSeparators(data.filePath(name)).toUtf8();
        };
        QProcess first;
        start(first, {data.filePath("a.kbx")});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += first.readAllStandardError()).contains(shown("a.kbx")),
                                 10000);
        // Named from another working folder: the running window gets the whole path.
        QProcess second;
        second.setWorkingDirectory(data.path());
        start(second, {"b.kbx"});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        QTRY_VERIFY_WITH_TIMEOUT((said += first.readAllStandardError()).contains(shown("b.kbx")),
                                 10000);
        first.kill();
        QVERIFY(first.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
