// The local pane as a small file manager and the window's language: F2, Del, a new folder,
// Backspace and F5 where the local pane has the focus (a name that exists refused, the trash of
// the test's own home); the folder shown last opened again; a file shown as the command line names
// it; long names under the large icons wrap before they are cut. English by default with the
// described labels, Japanese once chosen in the preferences and loaded as at start.
#include "mainformtest.h"

#include "app/dialogs/preferform.h"
#include "app/translations.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabWidget>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace kbxtest;

class MainFormLocalTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<ModalDriver> m_dialogs;
    QTemporaryDir m_home;

    void keyToLocal(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        if (auto* list = qobject_cast<FileListView*>(widget))
            widget = list->currentView();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        widget->setFocus();
        QTest::keyClick(widget, key, modifiers);
    }
    void answerText(const QString& text) {
        m_dialogs->expect([text](QDialog* dialog) {
            auto* input = qobject_cast<QInputDialog*>(dialog);
            QVERIFY(input);
            input->setTextValue(text);
            input->accept();
        });
    }
    QString selectedText() {
        const int row = localFileView()->selectedRow();
        return row >= 0 ? localFileView()->itemText(row) : QString();
    }
    QStringList menuTitles() {
        QStringList titles;
        for (QAction* action : m_form->menuBar()->actions())
            titles << action->text();
        return titles;
    }

private Q_SLOTS:
    void initTestCase() {
        setUpCase();
        // The desktop's trash of this test's own home.
        QVERIFY(QDir(m_home.path()).mkpath("data"));
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
    }
    void init() {
        setUp();
        m_dialogs = std::make_unique<ModalDriver>();
    }
    void cleanup() {
        tearDown();
        QCOMPARE(m_dialogs->unused(), qsizetype(0));
        m_dialogs.reset();
    }
    void cleanupTestCase() {
        kbxapp::setInterfaceLanguage("en");
        ErrorReporter::setInstance(nullptr);
    }

    void keysOfTheLocalPaneManageFiles() {
        QVERIFY(writeFile("a.kbx", "a"));
        QVERIFY(writeFile("b.kbx", "b"));
        QVERIFY(QDir(m_local->path()).mkdir("sub"));
        createForm();
        FileListView* list = localFileView();
        list->setSelectedRow(rowOf(list, "a.kbx"));

        // F2: a name that is there is refused, the file stays.
        answerText("b.kbx");
        keyToLocal(list, Qt::Key_F2);
        QCOMPARE(m_errors.texts, QStringList{"\"b.kbx\" exists already."});
        QVERIFY(QFile::exists(m_local->filePath("a.kbx")));
        answerText("c.kbx");
        keyToLocal(list, Qt::Key_F2);
        QVERIFY(QFile::exists(m_local->filePath("c.kbx")));
        QCOMPARE(selectedText(), QString("c.kbx"));

        // Del in the local list: asked, then into the trash; the keyboard is not touched. Not
        // under Wine, whose shell file operation (Qt's trash on Windows) is a stub.
        const bool trash = !underWine();
        if (trash) {
            m_dialogs->expect([](QDialog* box) {
                QVERIFY(qobject_cast<QMessageBox*>(box)->text().contains("c.kbx"));
                qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
            });
            keyToLocal(list, Qt::Key_Delete);
            QVERIFY(!QFile::exists(m_local->filePath("c.kbx")));
#ifndef Q_OS_WIN // the recycle bin is no folder to look into
            QVERIFY(QFile::exists(m_home.filePath("data/Trash/files/c.kbx")));
#endif
        }

        // A new folder, selected; F5 in the pane reads a file made meanwhile (not the keyboard).
        answerText("made");
        keyToLocal(list, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(QFileInfo(m_local->filePath("made")).isDir());
        QCOMPARE(selectedText(), QString("made"));
        QVERIFY(writeFile("late.kbx", "x"));
        keyToLocal(localDirView(), Qt::Key_F5);
        QVERIFY(rowOf(list, "late.kbx") >= 0);
        QVERIFY(!m_form->kbdDrv().isListed());

        // Into "sub" and Backspace back up, with "sub" selected.
        list->setSelectedRow(rowOf(list, "sub"));
        QVERIFY(m_form->localPane().OpenLocalFolder(rowOf(list, "sub")));
        keyToLocal(list, Qt::Key_Backspace);
        QCOMPARE(m_form->localPane().ShownFolder(), localDir());
        QCOMPARE(selectedText(), QString("sub"));
        QCOMPARE(m_errors.texts, QStringList{"\"b.kbx\" exists already."});
    }

    void theFolderShownLastAndANamedFileAreShown() {
        QVERIFY(QDir(m_local->path()).mkpath("deep/er"));
        QVERIFY(writeFile("deep/er/x.kbx", "x"));
        createForm();
        QVERIFY(m_form->ShowLocalFile(m_local->filePath("deep/er/x.kbx")));
        QCOMPARE(m_form->localPane().SelectedPath(),
                 QDir::toNativeSeparators(m_local->filePath("deep/er/x.kbx")));
        QVERIFY(!m_form->ShowLocalFile(m_local->filePath("deep/none.kbx")));
        m_form.reset();
        createForm();
        QCOMPARE(m_form->localPane().ShownFolder(),
                 QDir::toNativeSeparators(m_local->filePath("deep/er")) + QDir::separator());
        QCOMPARE(m_form->ShownFolder(), m_form->localPane().ShownFolder());
    }

    void longIconLabelsWrapBeforeTheyElide() {
        // Names without blanks, in Latin letters and in Japanese, that take two or three lines.
        const QStringList names{"SNG_Nocturne_in_E.kbx", "SNG_夜想曲ホ短調_練習.kbx"};
        for (const QString& name : names)
            QVERIFY(writeFile(name, "x"));
        createForm();
        FileListView* list = localFileView();
        list->setViewStyle(FileListView::LargeIcon);
        QListView* icons = list->iconView();
        QVERIFY(icons->wordWrap());
        const int margins =
            2 * (icons->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, icons) + 1);
        for (const QString& name : names) {
            const QRect item = icons->visualRect(list->model()->index(rowOf(list, name), 0));
            const QRect label = icons->fontMetrics().boundingRect(
                QRect(0, 0, item.width() - margins, 1000), Qt::TextWrapAnywhere, name);
            QVERIFY2(label.height() <= item.height() - icons->iconSize().height(),
                     qPrintable(
                         QString("%1: %2 of %3").arg(name).arg(label.height()).arg(item.height())));
        }
    }

    void languageIsEnglishUntilJapaneseIsChosen() {
        createForm();
        const QStringList english = menuTitles();
        QVERIFY(english.contains("&File"));
        QCOMPARE(find<QAction>("ConnectAction")->text(), QString("Get/Update &List"));

        // Chosen on the preference dialog, stored at once; in effect at the next start.
        m_dialogs->expect([](QDialog* dialog) {
            auto* box = dialog->findChild<QComboBox*>("LanguageBox");
            QVERIFY(box);
            box->setCurrentIndex(box->findData("ja"));
            qobject_cast<TPrefForm*>(dialog)->OkBtnClick();
        });
        m_form->PrefOpenExecute();
        QCOMPARE(menuTitles(), english);
        QCOMPARE(KbxSettings().loadLanguage(), QString("ja"));

        QVERIFY(kbxapp::setInterfaceLanguage(KbxSettings().loadLanguage()));
        m_form.reset();
        createForm();
        QVERIFY(menuTitles().contains(QString("ファイル(&F)")));
        QCOMPARE(find<QAction>("ConnectAction")->text(), QString("一覧の取得/更新(&L)"));
        TPrefForm pref;
        QCOMPARE(pref.windowTitle(), QString("環境設定"));
        // Qt's own buttons follow.
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QString("キャンセル"));

        kbxapp::setInterfaceLanguage("en");
        m_form.reset();
        createForm();
        QCOMPARE(menuTitles(), english);
    }
};

QTEST_MAIN(MainFormLocalTest)
#include "test_mainform_local.moc"
