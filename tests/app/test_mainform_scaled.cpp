// The main window at twice the scale on a small screen (QT_SCALE_FACTOR=2 on a 1280 by 720
// screen, so 640 by 360 in the window's own pixels): the whole window, status line included,
// lies within the screen, at the first start and with a layout stored at the normal scale.
#include "mainformtest.h"

#include <QScreen>
#include <QStatusBar>

using namespace kbxtest;

class MainFormScaledTest : public QObject, public MainFormFixture {
    Q_OBJECT

    void expectWholeOnTheScreen() {
        QScreen* screen = m_form->screen();
        const QRect available = screen->availableGeometry();
        const QRect frame = m_form->frameGeometry();
        QVERIFY2(available.contains(frame), qPrintable(QString("window %1,%2 %3x%4 on %5x%6")
                                                           .arg(frame.x())
                                                           .arg(frame.y())
                                                           .arg(frame.width())
                                                           .arg(frame.height())
                                                           .arg(available.width())
                                                           .arg(available.height())));
        auto* status = find<QStatusBar>("StatusBar");
        QVERIFY(status->isVisible());
        const QRect strip(status->mapToGlobal(QPoint(0, 0)), status->size());
        QVERIFY(available.contains(strip));
        // Nothing of the window is squeezed out of it: the layout's minimum fits.
        QVERIFY(m_form->minimumSizeHint().height() <= m_form->height());
        QVERIFY(m_form->minimumSizeHint().width() <= m_form->width());
    }

private Q_SLOTS:
    void initTestCase() {
        setUpCase();
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(640, 360));
    }
    void init() { setUp(); }
    void cleanup() { tearDown(); }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    void theDescribedSizeShrinksToTheScreen() {
        createForm();
        expectWholeOnTheScreen();
    }

    void aLayoutStoredAtTheNormalScaleComesBackWithinTheScreen() {
        createForm();
        m_form->setGeometry(200, 150, 615, 535);
        m_form.reset();
        createForm();
        expectWholeOnTheScreen();
    }
};

QTEST_MAIN(MainFormScaledTest)
#include "test_mainform_scaled.moc"
