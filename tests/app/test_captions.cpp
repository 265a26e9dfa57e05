// Every dialog's caption, as the window system shows it: the program starts the way kbxman
// does, each dialog is shown on a real X server (Xvfb), and the title the server holds is read
// back with xdotool. Qt appends an application display name to window titles only in the
// platform window, so reading windowTitle() alone would not see that fault.
#include "errorreporter.h"
#include "kbddrvpropform.h"
#include "mainform.h"
#include "platform.h"
#include "prefdirform.h"
#include "preferform.h"
#include "propform.h"
#include "settings.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class CaptionTest : public QObject {
    Q_OBJECT

private:
    // The title the X server holds for the widget's window.
    static QString shownTitle(QWidget& window) {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return QStringLiteral("<not exposed>");
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"),
                      {QStringLiteral("getwindowname"), QString::number(window.winId())});
        if (!xdotool.waitForFinished(10000) || xdotool.exitCode() != 0)
            return QStringLiteral("<xdotool failed: %1>")
                .arg(QString::fromLocal8Bit(xdotool.readAllStandardError()));
        window.hide();
        return QString::fromUtf8(xdotool.readAllStandardOutput()).chopped(1);
    }

    static void check(QWidget& window, const QString& caption) {
        QCOMPARE(window.windowTitle(), caption);
        QCOMPARE(shownTitle(window), caption);
    }

    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "runs on an X server: xvfb-run with QT_QPA_PLATFORM=xcb");
        kbxapp::initApplication();
        KbxSettings::setDefaultStore(QSettings::IniFormat, m_config.filePath("KbxMan.ini"));
        KbxSettings().save(0, 0, m_config.path());
    }

    void mainWindowCarriesTheApplicationTitle() {
        TPcLinkForm form;
        check(form, QStringLiteral("ZR-7316 MUSIC DATA MANAGEMENT SOFTWARE"));
    }

    void dialogCaptionsAreExactlyTheDescribedOnes() {
        TPcLinkForm owner;
        TPrefForm preference(&owner);
        check(preference, QStringLiteral("Preference"));
        TDirBrowseForm directories(&preference);
        check(directories, QStringLiteral("Directries"));
        TZxDataPropertyForm property(&owner);
        check(property, QStringLiteral("Property"));
        TKbdDrivePropertyForm properties(&owner);
        check(properties, QStringLiteral("Properties"));
        const std::unique_ptr<QMessageBox> error(
            MessageBoxErrorReporter::createBox(&owner, QStringLiteral("MIDI Timeout")));
        check(*error, QStringLiteral("Error"));
        QCOMPARE(error->icon(), QMessageBox::Critical);
        QCOMPARE(error->standardButtons(), QMessageBox::Ok);
    }
};

QTEST_MAIN(CaptionTest)
#include "test_captions.moc"
