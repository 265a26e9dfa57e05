// The local pane of the main window: filling LocalFileView for a folder of 10,000 and of 100,000
// files (targets 300 ms and 3 s), through the local pane's own ListLocalFiles on a real window (the
// offscreen platform unless QT_QPA_PLATFORM says otherwise).
//
// Two figures per folder: the fill alone (ListLocalFiles returns), and the fill with the view's
// layout and first paint. The reference beside them is the bare reading of the same folder
// (QDir::entryInfoList and each file's size), which no list can beat.
#include "errorreporter.h"
#include "filelistview.h"
#include "localpane.h"
#include "mainform.h"
#include "settings.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

class QuietErrors : public ErrorReporter {
public:
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
    }
};

struct Fixture {
    QTemporaryDir temporary;
    QString root; // the temporary folder, or --kbx_folders=DIR (kept, for repeated runs)
    std::unique_ptr<TPcLinkForm> form;
    QTreeWidget* tree = nullptr;
    FileListView* list = nullptr;
};
Fixture* g_fixture = nullptr;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

QString folderFor(int files) {
    return QDir(g_fixture->root).filePath(QStringLiteral("files%1").arg(files));
}

// Data files as an import leaves them ("Song_ABC 00042.kbx", 124 bytes each) with a few other
// kinds of file and some folders between them, so that names, types and sizes all vary.
void makeFolder(int files) {
    const QString dir = folderFor(files);
    if (QDir(dir).exists())
        return;
    if (!QDir().mkpath(dir))
        throw std::runtime_error("cannot create " + dir.toStdString());
    const QByteArray bytes(124, '\x11');
    const char* kinds[] = {"Tone", "DSP", "Registraion", "Song", "Rhythm"};
    for (int i = 0; i < files; ++i) {
        QString name;
        if (i % 100 == 99)
            name = QStringLiteral("notes %1.txt").arg(i);
        else if (i % 1000 == 998)
            name = QStringLiteral("folder %1").arg(i);
        else
            name = QStringLiteral("%1_Item%2 %3.kbx")
                       .arg(kinds[i % 5])
                       .arg(i % 37)
                       .arg(i, 5, 10, QLatin1Char('0'));
        const QString path = dir + QDir::separator() + name;
        if (name.startsWith(u"folder")) {
            QDir().mkdir(path);
            continue;
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write " + path.toStdString());
    }
}

QTreeWidgetItem* nodeFor(const QString& dir) {
    const QString path = QDir::toNativeSeparators(dir) + QDir::separator();
    for (int i = 0; i < g_fixture->tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* drive = g_fixture->tree->topLevelItem(i);
        if (path.startsWith(drive->text(0)))
            return g_fixture->form->localPane().FindLocalNode(path, drive);
    }
    throw std::runtime_error("no tree node for " + path.toStdString());
}

// The floor: reading the folder and every entry's size, nothing shown.
void BM_ReadFolder(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    makeFolder(files);
    const QString dir = folderFor(files);
    for (auto _ : state) {
        const auto start = Clock::now();
        const QFileInfoList entries =
            QDir(dir).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
        qint64 bytes = 0;
        for (const QFileInfo& entry : entries)
            bytes += entry.size();
        benchmark::DoNotOptimize(bytes);
        state.SetIterationTime(msSince(start) / 1000.0);
    }
    state.counters["files"] = files;
}

void BM_ListLocalFiles(benchmark::State& state, bool paint) {
    const int files = static_cast<int>(state.range(0));
    const double targetMs = files <= 10000 ? 300.0 : 3000.0;
    makeFolder(files);
    QTreeWidgetItem* node = nodeFor(folderFor(files));
    double totalMs = 0;
    for (auto _ : state) {
        g_fixture->list->clear();
        QApplication::processEvents();
        const auto start = Clock::now();
        g_fixture->form->localPane().ListLocalFiles(node);
        if (paint) {
            // The view lays its items out from a zero timer, then paints.
            QApplication::processEvents();
            g_fixture->list->currentView()->viewport()->repaint();
        }
        const double ms = msSince(start);
        state.SetIterationTime(ms / 1000.0);
        totalMs += ms;
    }
    if (g_fixture->list->count() != files)
        state.SkipWithError("the list does not show every entry");
    const double perFill = totalMs / static_cast<double>(state.iterations());
    state.counters["files"] = files;
    state.counters["target_ms"] = targetMs;
    state.counters["x_target"] = perFill / targetMs;
    // The bare reading of the folder, measured beside it.
    QElapsedTimer timer;
    timer.start();
    const QFileInfoList entries =
        QDir(folderFor(files))
            .entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    qint64 bytes = 0;
    for (const QFileInfo& entry : entries)
        bytes += entry.size();
    benchmark::DoNotOptimize(bytes);
    const double readMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    state.counters["read_ms"] = readMs;
    state.counters["x_read"] = perFill / readMs;
    g_fixture->list->clear();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KBX_TEST", "1"); // the virtual keyboard only, no settings of the user's
    QString folders;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--kbx_folders=", 14) == 0) {
            folders = QString::fromLocal8Bit(argv[i] + 14);
            for (int j = i; j + 1 < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
            break;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tovanel"));
    QApplication::setApplicationName(QStringLiteral("KbxMan"));

    Fixture fixture;
    g_fixture = &fixture;
    QuietErrors errors;
    ErrorReporter::setInstance(&errors);
    try {
        if (!fixture.temporary.isValid())
            throw std::runtime_error("no temporary folder");
        fixture.root = folders.isEmpty() ? fixture.temporary.path() : folders;
        const QString store = fixture.temporary.filePath(QStringLiteral("KbxMan.ini"));
        KbxSettings::setDefaultStore(QSettings::IniFormat, store);
        KbxSettings().save(0, 0, fixture.root);
        std::fprintf(stderr, "folders in %s\n", qPrintable(fixture.root));
        makeFolder(10000);
        makeFolder(100000);
        fixture.form = std::make_unique<TPcLinkForm>();
        fixture.form->resize(1024, 768);
        fixture.form->show();
        QApplication::processEvents();
        fixture.tree = fixture.form->findChild<QTreeWidget*>(QStringLiteral("LocalDirView"));
        fixture.list = fixture.form->findChild<FileListView*>(QStringLiteral("LocalFileView"));
        if (!fixture.tree || !fixture.list)
            throw std::runtime_error("the window has no LocalDirView or LocalFileView");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_localpane: %s\n", e.what());
        return 1;
    }

    benchmark::RegisterBenchmark("BM_ReadFolder", BM_ReadFolder)
        ->Arg(10000)
        ->Arg(100000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark("BM_ListLocalFiles/fill", BM_ListLocalFiles, false)
        ->Arg(10000)
        ->Arg(100000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("BM_ListLocalFiles/fill+paint", BM_ListLocalFiles, true)
        ->Arg(10000)
        ->Arg(100000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture.form.reset();
    ErrorReporter::setInstance(nullptr);
    return 0;
}
