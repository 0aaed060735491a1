// The update step's Windows branch under Wine: the command line of the program reaches a real process
// through CreateProcessA, its exit code comes back, and a missing updater gives the system's error number.
#include <fstream>
#include <string>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "TempXdg.h"
#include "core/Platform.h"
#include "shell/UpdaterCommand.h"

namespace {

// Runs the updater as the update step does, from a current folder of the test's own.
class UpdaterStep : public ::testing::Test {
protected:
    void SetUp() override {
        ::GetCurrentDirectoryA(sizeof previous_, previous_);
        ASSERT_TRUE(::SetCurrentDirectoryA(folder_.root().c_str()));
    }
    void TearDown() override {
        ::SetCurrentDirectoryA(previous_);
        ::_putenv_s("FAKE_UPDATER_EXIT", "");
        ::_putenv_s("FAKE_UPDATER_RECORD", "");
    }

    // The stand-in becomes updater.exe in the current folder, which the system searches after the
    // program's own folder.
    void InstallUpdater() {
        ASSERT_TRUE(::CopyFileA(FAKE_UPDATER_PATH, (folder_.root() + "\\updater.exe").c_str(), FALSE))
            << FAKE_UPDATER_PATH << ": error " << ::GetLastError();
    }

    platform::ProcessEnd Run(const std::vector<std::string> &values) {
        std::vector<std::string> argv = {platform::UpdaterProgramName()};
        argv.insert(argv.end(), values.begin(), values.end());
        return platform::RunAndWait(argv, UpdaterCommandLine(argv));
    }

    std::string Record() const { return folder_.root() + "\\arguments.txt"; }

    std::vector<std::string> Recorded() const {
        std::vector<std::string> lines;
        std::ifstream file(Record());
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    }

    TempXdg folder_;
    char previous_[MAX_PATH] = {};
};

TEST_F(UpdaterStep, ValuesWithSpacesArriveAsOneArgumentEach) {
    InstallUpdater();
    ::_putenv_s("FAKE_UPDATER_RECORD", Record().c_str());
    const std::vector<std::string> values = {"https://updates.example/att/.version.json", "1.3.1",
                                             "C:/Users/Lab User/AppData/Roaming/KORVAN/Luxora",
                                             "C:\\Program Files\\KORVAN Luxora\\luxora.exe"};
    const platform::ProcessEnd end = Run(values);
    ASSERT_TRUE(end.started) << "error " << end.startError;
    EXPECT_TRUE(end.exitedNormally);
    EXPECT_EQ(end.exitCode, 0);
    EXPECT_EQ(Recorded(), values);
}

TEST_F(UpdaterStep, TheExitCodeComesBack) {
    InstallUpdater();
    for (const char *code : {"0", "1", "7", "255"}) {
        ::_putenv_s("FAKE_UPDATER_EXIT", code);
        const platform::ProcessEnd end = Run({"u", "v", "d", "a"});
        ASSERT_TRUE(end.started) << code;
        EXPECT_TRUE(end.exitedNormally) << code;
        EXPECT_EQ(end.exitCode, std::stol(code)) << code;
    }
}

TEST_F(UpdaterStep, AMissingUpdaterGivesTheSystemsErrorNumber) {
    const platform::ProcessEnd end = Run({"u", "v", "d", "a"});
    EXPECT_FALSE(end.started);
    EXPECT_EQ(end.startError, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
}

} // namespace
