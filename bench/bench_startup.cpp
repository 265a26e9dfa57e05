// Start-up and peak memory of the programs, each measured in a process of its own:
//   - kbxman: the time from starting the process to the main window's first paint, and its peak
//     resident memory after a list of the virtual keyboard. The child runs the steps of kbxman's
//     main (instance lock, application object and names, window icon, the virtual keyboard's
//     state file, TPcLinkForm, show) on the window's own code, with the settings and the state in
//     a temporary folder. Reference: a minimal Qt Widgets program (a QMainWindow with a label).
//   - kbxtool --virtual=<tmp> list: peak resident memory, as /usr/bin/time reports it. Reference:
//   kbxtool --version (the same binary and libraries,
//     no work).
// The children run on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "appicons.h"
#include "errorreporter.h"
#include "mainform.h"
#include "mididevices.h"
#include "settings.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QLockFile>
#include <QMainWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::int64_t monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// ---- the child ---------------------------------------------------------------------------

// Notes the first paint of the window, then ends the event loop.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::int64_t& at)
        : m_at(at) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && m_at == 0) {
            m_at = monotonicNs();
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::int64_t& m_at;
};

class QuietErrors : public ErrorReporter {
public:
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
        ++count;
    }
    int count = 0;
};

// The peak resident memory of this process image: VmHWM. (getrusage's ru_maxrss also counts
// what the parent held when it started this process, so it cannot tell a small child.)
long maxRssKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    long kib = -1;
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    if (status)
        std::fclose(status);
    return kib;
}

// kind: "kbxman" or "minimal"; list: run a list after the window is shown.
int runChild(const std::string& kind, bool list, std::int64_t startedNs, const char* resultPath,
             const char* tempDir) {
    std::int64_t shownNs = 0;
    if (kind == "kbxman") {
        // As kbxman's main: the instance lock first (here in the temporary folder, so that a
        // kbxman of the user's does not stop the benchmark).
        QLockFile instanceLock(QDir(QString::fromLocal8Bit(tempDir)).filePath("KbxMan.lock"));
        instanceLock.setStaleLockTime(0);
        if (!instanceLock.tryLock(0))
            return 3;
        int argc = 1;
        char name[] = "kbxman";
        char* argv[] = {name, nullptr};
        QApplication app(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("Tovanel"));
        QApplication::setApplicationName(QStringLiteral("KbxMan"));
        QApplication::setApplicationDisplayName(
            QStringLiteral("ZR-7316 MUSIC DATA MANAGEMENT SOFTWARE"));
        QApplication::setWindowIcon(kbxapp::appIcon());
        QuietErrors errors;
        ErrorReporter::setInstance(&errors);
        const QDir temp(QString::fromLocal8Bit(tempDir));
        KbxSettings::setDefaultStore(QSettings::IniFormat, temp.filePath("KbxMan.ini"));
        KbxSettings().save(0, 0, temp.path());
        kbxmidi::DeviceRegistry::instance().virtualKeyboard().setStateFile(
            temp.filePath("keyboard.state"));
        TPcLinkForm form;
        FirstPaint paint(shownNs);
        form.installEventFilter(&paint);
        form.show();
        app.exec();
        form.removeEventFilter(&paint);
        if (list) {
            form.ConnectActionExecute();
            if (!form.kbdDrv().isListed() || errors.count)
                return 4;
        }
        std::FILE* out = std::fopen(resultPath, "w");
        if (!out)
            return 5;
        std::fprintf(out, "%lld %ld\n", static_cast<long long>(shownNs - startedNs), maxRssKiB());
        std::fclose(out);
        ErrorReporter::setInstance(nullptr);
        return 0;
    }
    int argc = 1;
    char name[] = "minimal";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("minimal")));
    window.resize(800, 600);
    FirstPaint paint(shownNs);
    window.installEventFilter(&paint);
    window.show();
    app.exec();
    std::FILE* out = std::fopen(resultPath, "w");
    if (!out)
        return 5;
    std::fprintf(out, "%lld %ld\n", static_cast<long long>(shownNs - startedNs), maxRssKiB());
    std::fclose(out);
    return 0;
}

// ---- the parent --------------------------------------------------------------------------

std::string g_self;
std::string g_kbxtool;
std::string g_temp;

struct Finished {
    int status = -1;
    long maxRssKiB = 0;
    std::int64_t wallNs = 0;
};

// Starts the program with its output on the null device and waits for it.
Finished spawnAndWait(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Finished finished;
    const std::int64_t start = monotonicNs();
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    finished.wallNs = monotonicNs() - start;
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    finished.maxRssKiB = usage.ru_maxrss;
    return finished;
}

struct ChildFigures {
    double shownMs = 0;
    double maxRssMiB = 0;
};

ChildFigures runChildProcess(const std::string& kind, bool list) {
    QTemporaryDir temp(QString::fromStdString(g_temp) + "/kbx-startup-XXXXXX");
    if (!temp.isValid())
        throw std::runtime_error("no temporary folder");
    const std::string result = temp.filePath("result").toStdString();
    const std::string started = std::to_string(monotonicNs());
    const Finished finished = spawnAndWait({g_self, "--kbx_child", kind, list ? "list" : "show",
                                            started, result, temp.path().toStdString()});
    if (finished.status != 0)
        throw std::runtime_error("the " + kind + " child ended with " +
                                 std::to_string(finished.status));
    std::FILE* in = std::fopen(result.c_str(), "r");
    long long shownNs = 0;
    long rss = 0;
    const bool read = in && std::fscanf(in, "%lld %ld", &shownNs, &rss) == 2;
    if (in)
        std::fclose(in);
    if (!read)
        throw std::runtime_error("the " + kind + " child wrote no result");
    return {static_cast<double>(shownNs) / 1e6, static_cast<double>(rss) / 1024.0};
}

double g_minimalShownMs = 0;
double g_minimalRssMiB = 0;

void BM_StartToShown(benchmark::State& state, const std::string& kind) {
    double total = 0;
    try {
        for (auto _ : state) {
            const ChildFigures figures = runChildProcess(kind, false);
            state.SetIterationTime(figures.shownMs / 1000.0);
            total += figures.shownMs;
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const double mean = total / static_cast<double>(state.iterations());
    if (kind == "minimal")
        g_minimalShownMs = mean;
    else if (g_minimalShownMs > 0)
        state.counters["x_minimal_qt"] = mean / g_minimalShownMs;
}

void BM_PeakMemory(benchmark::State& state, const std::string& kind) {
    double rss = 0;
    try {
        for (auto _ : state) {
            const ChildFigures figures = runChildProcess(kind, kind == "kbxman");
            state.SetIterationTime(figures.shownMs / 1000.0);
            rss = std::max(rss, figures.maxRssMiB);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["maxrss_MiB"] = rss;
    if (kind == "minimal")
        g_minimalRssMiB = rss;
    else if (g_minimalRssMiB > 0)
        state.counters["x_minimal_qt"] = rss / g_minimalRssMiB;
}

double g_versionRssMiB = 0;

void BM_KbxtoolMemory(benchmark::State& state, bool list) {
    double rss = 0;
    try {
        for (auto _ : state) {
            QTemporaryDir temp(QString::fromStdString(g_temp) + "/kbx-tool-XXXXXX");
            // Through /usr/bin/time, which forks from a small process of its own: the
            // figure is kbxtool's alone (see maxRssKiB).
            const std::string result = temp.filePath("rss").toStdString();
            std::vector<std::string> args{"/usr/bin/time", "-f", "%M", "-o", result, g_kbxtool};
            if (list) {
                args.push_back("--virtual=" + temp.filePath("keyboard.state").toStdString());
                args.push_back("list");
            } else {
                args.push_back("--version");
            }
            Finished finished = spawnAndWait(args);
            if (finished.status != 0)
                throw std::runtime_error("kbxtool ended with " + std::to_string(finished.status));
            std::FILE* in = std::fopen(result.c_str(), "r");
            const bool read = in && std::fscanf(in, "%ld", &finished.maxRssKiB) == 1;
            if (in)
                std::fclose(in);
            if (!read)
                throw std::runtime_error("/usr/bin/time wrote no figure");
            state.SetIterationTime(static_cast<double>(finished.wallNs) / 1e9);
            rss = std::max(rss, static_cast<double>(finished.maxRssKiB) / 1024.0);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["maxrss_MiB"] = rss;
    if (!list)
        g_versionRssMiB = rss;
    else if (g_versionRssMiB > 0)
        state.counters["x_version"] = rss / g_versionRssMiB;
}

std::string takeFlag(int& argc, char** argv, const char* name) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) != 0)
            continue;
        std::string value = argv[i] + prefix.size();
        for (int j = i; j + 1 < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        return value;
    }
    return {};
}

std::string ownPath() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KBX_TEST", "1"); // the virtual keyboard only, no settings of the user's
    if (argc == 7 && std::strcmp(argv[1], "--kbx_child") == 0)
        return runChild(argv[2], std::strcmp(argv[3], "list") == 0, std::atoll(argv[4]), argv[5],
                        argv[6]);

    g_self = ownPath();
    g_kbxtool = takeFlag(argc, argv, "kbx_kbxtool");
    if (g_kbxtool.empty())
        g_kbxtool = g_self.substr(0, g_self.rfind('/') + 1) + "kbxtool";
    g_temp = QDir::tempPath().toStdString();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    auto add = [](const char* name, auto fn, auto arg, int iterations) {
        benchmark::RegisterBenchmark(name, fn, arg)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(iterations);
    };
    add("BM_StartToShown/minimal_qt", BM_StartToShown, std::string("minimal"), 5);
    add("BM_StartToShown/kbxman", BM_StartToShown, std::string("kbxman"), 5);
    add("BM_PeakMemory/minimal_qt", BM_PeakMemory, std::string("minimal"), 2);
    add("BM_PeakMemory/kbxman_after_list", BM_PeakMemory, std::string("kbxman"), 2);
    add("BM_KbxtoolMemory/version", BM_KbxtoolMemory, false, 2);
    add("BM_KbxtoolMemory/virtual_list", BM_KbxtoolMemory, true, 2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
