// The real luxora executable as a child process against a simulator, measured through /proc.
#include "LuxoraProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include <QFile>
#include <QSerialPortInfo>
#include <QString>
#include <sys/stat.h>
#include <sys/wait.h>

#include "Figures.h"

extern char **environ;

namespace bench {

namespace {

constexpr int kStopTimeoutSeconds = 15;
const char kUpdater[] = "#!/bin/sh\n"
                        "# Answers as an updater that found nothing to install, so that the program starts.\n"
                        "exit 1\n";

std::string ReadFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The fields of a /proc stat line after the command name, which may hold spaces and parentheses.
std::vector<std::string> StatFields(const std::string &line, std::string *name = nullptr) {
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos)
        return {};
    if (name)
        *name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;)
        fields.push_back(field);
    return fields;
}

// utime and stime are the 14th and 15th fields of the line; the list starts at the 3rd.
double StatCpuSeconds(const std::vector<std::string> &fields) {
    if (fields.size() < 13)
        return 0.0;
    static const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

} // namespace

LuxoraProcess::LuxoraProcess(const Options &options) : xdg_(std::make_unique<TempXdg>()) {
    parkMachinePorts();
    simulator_ =
        std::make_unique<Simulator>(std::vector<std::string>{"--port", "COM1", "--speed", "0"}, options.baudDelay);

    const std::string bin = xdg_->root() + "/bin";
    ::mkdir(bin.c_str(), 0700);
    {
        std::ofstream updater(bin + "/updater");
        updater << kUpdater;
    }
    ::chmod((bin + "/updater").c_str(), 0700);

    const std::string cache = options.cacheFolder.empty() ? xdg_->root() + "/cache" : options.cacheFolder;
    std::map<std::string, std::string> overrides = {
        {"PATH", bin + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")},
        {"QT_QPA_PLATFORM", options.platform},
        {"XDG_CACHE_HOME", cache},
    };
    // An empty value leaves the variable out.
    overrides["QT_QUICK_BACKEND"] =
        options.quickBackend.empty() && options.platform == "offscreen" ? "software" : options.quickBackend;
    if (options.recordFirstFrame) {
        frameFile_ = xdg_->root() + "/first-frame";
        overrides["LUXORA_FIRST_FRAME_FILE"] = frameFile_;
    }
    std::vector<std::string> environment;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!overrides.count(text.substr(0, text.find('='))))
            environment.push_back(text);
    }
    for (const auto &[name, value] : overrides) {
        if (!value.empty())
            environment.push_back(name + "=" + value);
    }
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::string program = options.program.empty() ? std::string(LUXORA_PATH) : options.program;
    char *argv[] = {program.data(), nullptr};
    const std::string output = xdg_->root() + "/luxora.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    spawnedAt_ = Now();
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
    }
}

LuxoraProcess::~LuxoraProcess() {
    stop();
}

// The machine's own serial devices would get COM numbers of their own and be tried by the start-up
// connection; links of another name already count as theirs, so the program sees the simulator alone.
void LuxoraProcess::parkMachinePorts() const {
    const std::string folder = xdg_->portFolder();
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0700);
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        QFile::link(info.systemLocation(), QString::fromStdString(folder) + "/parked-" + info.portName());
}

bool LuxoraProcess::running() {
    if (pid_ <= 0 || exitStatus_)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

std::string LuxoraProcess::logText() const {
    std::string text;
    const std::filesystem::path folder = std::filesystem::path(xdg_->data()) / "Korvan. Inc" / "Luxora" / "logs";
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error))
        text += ReadFile(entry.path().string());
    return text;
}

bool LuxoraProcess::waitForConnection(double timeoutSeconds) {
    const double deadline = Now() + timeoutSeconds;
    while (Now() < deadline) {
        if (logText().find("is connected successfully") != std::string::npos)
            return true;
        if (!running())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::optional<double> LuxoraProcess::firstFrame(double timeoutSeconds) const {
    const double deadline = Now() + timeoutSeconds;
    while (Now() < deadline) {
        const std::string text = ReadFile(frameFile_);
        if (!text.empty() && text.back() == '\n')
            return std::stod(text) * 1e-9;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

double LuxoraProcess::cpuSeconds() const {
    return StatCpuSeconds(StatFields(ReadFile("/proc/" + std::to_string(pid_) + "/stat")));
}

long LuxoraProcess::residentKiB() const {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid_) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

std::vector<LuxoraProcess::Mapping> LuxoraProcess::residentByMapping() const {
    // A mapping's header line is "start-end perms offset device inode [path]", its Rss line comes later.
    std::map<std::string, long> byName;
    std::istringstream smaps(ReadFile("/proc/" + std::to_string(pid_) + "/smaps"));
    std::string name;
    for (std::string line; std::getline(smaps, line);) {
        if (line.rfind("Rss:", 0) == 0) {
            byName[name] += std::stol(line.substr(4));
            continue;
        }
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        if (!(fields >> range >> perms >> offset >> device >> inode) || range.find('-') == std::string::npos ||
            range.back() == ':')
            continue;
        std::getline(fields >> std::ws, path);
        name = path.empty() || path == "[heap]" || path.rfind("[stack", 0) == 0 ? "[anon]" : path;
    }
    std::vector<Mapping> mappings;
    for (const auto &[mapped, kiB] : byName)
        mappings.push_back({mapped, kiB});
    std::sort(mappings.begin(), mappings.end(),
              [](const Mapping &a, const Mapping &b) { return a.residentKiB > b.residentKiB; });
    return mappings;
}

std::vector<LuxoraProcess::ThreadTime> LuxoraProcess::threadTimes() const {
    std::vector<ThreadTime> threads;
    std::error_code error;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", error)) {
        std::string name;
        const std::vector<std::string> fields = StatFields(ReadFile(task.path().string() + "/stat"), &name);
        threads.push_back({name + " " + task.path().filename().string(), StatCpuSeconds(fields)});
    }
    return threads;
}

int LuxoraProcess::stop() {
    if (pid_ > 0 && !exitStatus_) {
        ::kill(pid_, SIGTERM);
        const double deadline = Now() + kStopTimeoutSeconds;
        while (running() && Now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (running()) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            exitStatus_ = 128 + SIGKILL;
        }
    }
    simulator_.reset();
    return exitStatus_ ? *exitStatus_ : -1;
}

} // namespace bench
