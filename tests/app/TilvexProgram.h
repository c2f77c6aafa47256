#pragma once
// Runs the built tilvex program in a home folder of its own, optionally with a touch script,
// and collects what it printed (standard output and error together).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/Foundation/NSFileManager.h"
#include "tests/support/TemporaryFolder.h"

struct ProgramOutcome {
    int status = -1;  // the exit status, -1 when the program did not exit normally
    int signal = 0;   // the signal that ended it, 0 when none
    std::string out;
};

inline std::string tilvexProgramPath() {
    return std::string(TILVEX_BINARY_DIR) + "/app/tilvex";
}

// `env` and `args` go through the shell as written.
inline ProgramOutcome runTilvex(const std::string& env, const std::string& args) {
    // exec: the shell gives way, so that a signal that ends the program reaches pclose.
    std::string command = "exec env " + env + " " + tilvexProgramPath() + " " + args + " 2>&1";
    ProgramOutcome outcome;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) outcome.out.append(buf, n);
    int status = ::pclose(pipe);
    if (WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    return outcome;
}

// A home folder and a way to run the application in it with a script. The devices are the
// defaults (a test pattern and a sine tone) unless `settings` says otherwise; nothing leaves
// the machine (the network endpoints are the defaults under .invalid).
class TilvexHome {
  public:
    std::string home() const { return folder_ / "home"; }
    std::string documents() const { return home() + "/Documents"; }
    std::string document(const std::string& name) const { return documents() + "/" + name; }

    // `launcher` runs the program (for example "timeout --preserve-status -s TERM 2").
    ProgramOutcome runScript(const std::string& script, const std::string& settings = "",
                             const std::string& launcher = "") {
        std::string path = folder_ / ("script-" + std::to_string(++runs_) + ".txt");
        std::ofstream(path) << script;
        return runTilvex("TILVEX_RESOURCES=" TILVEX_SOURCE_DIR "/app/Resources " + launcher,
                         "--home " + home() + " " + settings + " --script " + path);
    }
    const TemporaryFolder& folder() const { return folder_; }

  private:
    TemporaryFolder folder_;
    int runs_ = 0;
};

#define SKIP_UNLESS_TILVEX_IS_BUILT()                                               \
    do {                                                                            \
        if (!NSFileManager::defaultManager().fileExistsAtPath(tilvexProgramPath())) \
            GTEST_SKIP() << tilvexProgramPath() << " is not built";                 \
    } while (0)
