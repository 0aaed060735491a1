// POSIX side of the platform layer: process start with posix_spawn, private folders, termination signals.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <sys/stat.h>
#include <sys/wait.h>

#include "core/Platform.h"

extern char **environ;

namespace platform {

namespace {

std::string ExecutableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/'));
}

// 0 when the path is an executable regular file, else the error a start would report.
int CheckExecutable(const std::string &path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return EACCES;
    }
    return access(path.c_str(), X_OK) == 0 ? 0 : errno;
}

// The Windows search for a bare program name starts in the executable's own folder; keep that order, then PATH.
std::string FindProgram(const std::string &name, int &error) {
    error = ENOENT;
    if (name.find('/') != std::string::npos) {
        error = CheckExecutable(name);
        return error == 0 ? name : std::string();
    }
    std::vector<std::string> folders;
    const std::string own = ExecutableDirectory();
    if (!own.empty()) {
        folders.push_back(own);
    }
    const char *path = std::getenv("PATH");
    const std::string searchPath = path ? path : "/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= searchPath.size()) {
        const std::size_t end = std::min(searchPath.find(':', begin), searchPath.size());
        // An empty entry would mean the current folder; a program started at every launch is not taken from there.
        if (end > begin) {
            folders.push_back(searchPath.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    for (const std::string &folder : folders) {
        const std::string candidate = folder + "/" + name;
        const int result = CheckExecutable(candidate);
        if (result == 0) {
            error = 0;
            return candidate;
        }
        // A file that is there but may not be run is the more telling error than a missing one.
        if (result == EACCES) {
            error = EACCES;
        }
    }
    return {};
}

int signalPipe[2] = {-1, -1};
constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kQuitSignalCount = sizeof kQuitSignals / sizeof kQuitSignals[0];

extern "C" void OnQuitSignal(int) {
    // Only async-signal-safe calls here: the event loop reads the byte and quits.
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds an unread quit request, so a lost byte changes nothing.
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

class SignalWatcher : public QObject {
public:
    explicit SignalWatcher(const struct sigaction (&previous)[kQuitSignalCount])
        : notifier(signalPipe[0], QSocketNotifier::Read) {
        for (int i = 0; i < kQuitSignalCount; ++i) {
            previousActions[i] = previous[i];
        }
        QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [] {
            char buffer[64];
            while (read(signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            QCoreApplication::quit();
        });
    }

    ~SignalWatcher() override {
        // Handlers go first, so that no signal writes to a closed pipe.
        for (int i = 0; i < kQuitSignalCount; ++i) {
            sigaction(kQuitSignals[i], &previousActions[i], nullptr);
        }
        notifier.setEnabled(false);
        close(signalPipe[0]);
        close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }

private:
    QSocketNotifier notifier;
    struct sigaction previousActions[kQuitSignalCount] {};
};

} // namespace

const char *UpdaterProgramName() {
    return "updater";
}

ProcessEnd RunAndWait(const std::vector<std::string> &argv, const std::string & /*commandLine*/) {
    ProcessEnd end;
    if (argv.empty()) {
        end.startError = EINVAL;
        return end;
    }
    int error = 0;
    const std::string program = FindProgram(argv[0], error);
    if (program.empty()) {
        end.startError = static_cast<unsigned long>(error);
        return end;
    }

    std::vector<std::string> arguments(argv);
    std::vector<char *> pointers;
    for (std::string &argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    // The child gets standard input, output and error only, as a Windows child inherits no handles.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        end.startError = static_cast<unsigned long>(spawnError);
        return end;
    }
    end.started = true;

    int status = 0;
    pid_t waited = -1;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited == pid && WIFEXITED(status)) {
        end.exitedNormally = true;
        end.exitCode = WEXITSTATUS(status);
    }
    return end;
}

bool MakePrivateDirectory(const QString &path) {
    if (path.isEmpty()) {
        return false;
    }
    const std::string target = QFile::encodeName(QDir::cleanPath(path)).toStdString();
    // Create component by component so that every folder made here is 0700 from its first moment.
    std::size_t position = 1;
    while (true) {
        const std::size_t next = target.find('/', position);
        const std::string part = target.substr(0, next);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (next == std::string::npos) {
            break;
        }
        position = next + 1;
    }
    struct stat info {};
    return stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::unique_ptr<QObject> QuitOnTerminationSignals() {
    if (signalPipe[0] != -1 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls such as the wait for the updater carry on; the quit takes effect in the event loop.
    action.sa_flags = SA_RESTART;
    struct sigaction previous[kQuitSignalCount] {};
    for (int i = 0; i < kQuitSignalCount; ++i) {
        if (sigaction(kQuitSignals[i], &action, &previous[i]) != 0) {
            for (int j = 0; j < i; ++j) {
                sigaction(kQuitSignals[j], &previous[j], nullptr);
            }
            close(signalPipe[0]);
            close(signalPipe[1]);
            signalPipe[0] = signalPipe[1] = -1;
            return nullptr;
        }
    }
    return std::make_unique<SignalWatcher>(previous);
}

} // namespace platform
