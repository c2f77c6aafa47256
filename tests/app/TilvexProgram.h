#pragma once
// Runs the built tilvex program in a home folder of its own, optionally with a touch script,
// and collects what it printed (standard output and error together).

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Foundation/NSFileManager.h"
#include "tests/support/TemporaryFolder.h"

struct ProgramOutcome {
    int status = -1;  // the exit status, -1 when the program did not exit normally
    int signal = 0;   // the signal that ended it, 0 when none
    std::string out;
};

// The parts of a run, each a type of its own, so that one cannot be passed where another
// belongs. The texts go through the shell as written.

// The program: the path of its file.
struct Program {
    explicit Program(std::string path) : path(std::move(path)) {}
    std::string path;
};
// What changes in the environment the program inherits, as env(1) takes it: "NAME=VALUE" and
// "-u NAME" settings; none by default.
struct Environment {
    explicit Environment(std::string settings = "") : settings(std::move(settings)) {}
    std::string settings;
};
// The program's arguments; none by default.
struct Arguments {
    explicit Arguments(std::string text = "") : text(std::move(text)) {}
    std::string text;
};
// A command that runs the program given to it as its arguments (for example "sh launcher.sh" or
// "timeout --preserve-status -s TERM 2"); none by default, and the program runs itself.
struct Launcher {
    explicit Launcher(std::string command = "") : command(std::move(command)) {}
    std::string command;
};

inline std::string tilvexProgramPath() {
    return std::string(TILVEX_BINARY_DIR) + "/app/tilvex";
}

// The shell command of a run, without redirections.
inline std::string shellCommand(const Program& program, const Environment& env,
                                const Arguments& args, const Launcher& launcher = Launcher()) {
    return "env " + env.settings + " " + launcher.command + " " + program.path + " " + args.text;
}

// Runs `program` and waits for it to end.
inline ProgramOutcome runProgram(const Program& program, const Environment& env = Environment(),
                                 const Arguments& args = Arguments(),
                                 const Launcher& launcher = Launcher()) {
    // exec: the shell gives way, so that a signal that ends the program reaches pclose.
    std::string command = "exec " + shellCommand(program, env, args, launcher) + " 2>&1";
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

inline ProgramOutcome runTilvex(const Environment& env, const Arguments& args,
                                const Launcher& launcher = Launcher()) {
    return runProgram(Program(tilvexProgramPath()), env, args, launcher);
}

// A home folder and a way to run the application in it with a script. The devices are the
// defaults (a test pattern and a sine tone) unless `settings` says otherwise; nothing leaves
// the machine (the network endpoints are the defaults under .invalid).
class TilvexHome {
  public:
    std::string home() const { return folder_ / "home"; }
    std::string documents() const { return home() + "/Documents"; }
    std::string document(const std::string& name) const { return documents() + "/" + name; }

    ProgramOutcome runScript(const std::string& script, const Arguments& settings = Arguments(),
                             const Launcher& launcher = Launcher()) {
        return runTilvex(resources(), arguments(script, settings), launcher);
    }
    // The shell command that runs the program with `script` in this home, for a launcher to run
    // beside the program that runScript runs.
    std::string command(const std::string& script, const Arguments& settings = Arguments()) {
        return shellCommand(Program(tilvexProgramPath()), resources(), arguments(script, settings));
    }
    const TemporaryFolder& folder() const { return folder_; }

  private:
    static Environment resources() {
        return Environment("TILVEX_RESOURCES=" TILVEX_SOURCE_DIR "/app/Resources");
    }
    Arguments arguments(const std::string& script, const Arguments& settings) {
        std::string path = folder_ / ("script-" + std::to_string(++runs_) + ".txt");
        std::ofstream(path) << script;
        return Arguments("--home " + home() + " " + settings.text + " --script " + path);
    }

    TemporaryFolder folder_;
    int runs_ = 0;
};

// One Video row of a store, read straight from its table.
struct StoredRow {
    std::string videoPath, soundPath, thumbPath, title;
    double creationDate = 0;  // seconds since 2001-01-01 UTC
};

// The rows of the store at `storePath`, oldest first; none when it cannot be read. Opened for
// writing, as the application opens it, so that a journal left by a killed process is rolled
// back rather than making the read fail.
inline std::vector<StoredRow> storedRows(const std::string& storePath) {
    std::vector<StoredRow> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(storePath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT ZVIDEOPATH, ZSOUNDPATH, ZTHUMBPATH, ZTITLE, ZCREATIONDATE "
                           "FROM ZVIDEO ORDER BY ZCREATIONDATE",
                           -1, &statement, nullptr);
        auto text = [&](int column) {
            auto* chars = sqlite3_column_text(statement, column);
            return chars ? std::string(reinterpret_cast<const char*>(chars)) : std::string();
        };
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            rows.push_back(
                {text(0), text(1), text(2), text(3), sqlite3_column_double(statement, 4)});
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

#define SKIP_UNLESS_TILVEX_IS_BUILT()                                               \
    do {                                                                            \
        if (!NSFileManager::defaultManager().fileExistsAtPath(tilvexProgramPath())) \
            GTEST_SKIP() << tilvexProgramPath() << " is not built";                 \
    } while (0)
