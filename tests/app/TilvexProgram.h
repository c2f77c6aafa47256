#pragma once
// Runs the built tilvex program (or another) in a home folder of its own, optionally with a touch
// script, and collects what it printed (standard output and error together). Programs start from
// lists of words, never through a shell, each within a time limit.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Foundation/NSFileManager.h"
#include "tests/support/TemporaryFolder.h"

extern char** environ;

struct ProgramOutcome {
    int status = -1;        // the exit status, -1 when the program did not exit normally
    int signal = 0;         // the signal that ended it, 0 when none
    bool timedOut = false;  // it outlasted its time limit and was killed (the test fails)
    std::string out;
};

// The parts of a run, each a type of its own, so that one cannot be passed where another
// belongs. No shell reads them: each is a list of words, handed to the program as they are.
// A part made from one text is that text split at blanks, with no quoting; a word that may hold a
// blank (a path under $TMPDIR) is given in a list: Arguments({"--home", home}).
inline std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The program: the path of its file.
struct Program {
    explicit Program(std::string path) : path(std::move(path)) {}
    std::string path;
};
// What changes in the environment the program inherits, in order, as env(1) takes it:
// "NAME=VALUE" sets, "-u NAME" unsets; none by default. A value may hold blanks in a list:
// Environment({"TILVEX_HOME=" + home, "-u TILVEX_CAMERA"}).
struct Environment {
    explicit Environment(const std::string& text = "") {
        std::vector<std::string> words = wordsOf(text);
        for (size_t i = 0; i < words.size(); ++i)
            settings.push_back(words[i] == "-u" && i + 1 < words.size() ? "-u " + words[++i]
                                                                        : words[i]);
    }
    explicit Environment(std::initializer_list<std::string> list) : settings(list) {}
    std::vector<std::string> settings;
};
// The program's arguments; none by default.
struct Arguments {
    explicit Arguments(const std::string& text = "") : words(wordsOf(text)) {}
    explicit Arguments(std::initializer_list<std::string> list) : words(list) {}
    std::vector<std::string> words;
};
// A command that runs the program given to it as its arguments (for example {"sh", launcher} or
// "timeout --preserve-status -s TERM 2"); none by default, and the program runs itself.
struct Launcher {
    explicit Launcher(const std::string& text = "") : words(wordsOf(text)) {}
    explicit Launcher(std::initializer_list<std::string> list) : words(list) {}
    std::vector<std::string> words;
};

// How long a run may take before it is killed, whatever it runs: a program that hangs ends its
// test, well within CTest's own bound, rather than the whole run. Tests of the limit lower it.
inline int gProgramTimeLimitSeconds = 300;

inline std::string tilvexProgramPath() {
    return std::string(TILVEX_BINARY_DIR) + "/app/tilvex";
}

// The words of a run: the launcher's, the program, its arguments.
inline std::vector<std::string> commandWords(const Program& program, const Arguments& args,
                                             const Launcher& launcher) {
    std::vector<std::string> words = launcher.words;
    words.push_back(program.path);
    words.insert(words.end(), args.words.begin(), args.words.end());
    return words;
}

// `word` quoted for the shell.
inline std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The shell command of a run, without redirections, for a launcher script to run (each word
// quoted).
inline std::string shellCommand(const Program& program, const Environment& env,
                                const Arguments& args, const Launcher& launcher = Launcher()) {
    std::string command = "env";
    for (const std::string& setting : env.settings)
        command += setting.rfind("-u ", 0) == 0 ? " -u " + shellQuoted(setting.substr(3))
                                                : " " + shellQuoted(setting);
    for (const std::string& word : commandWords(program, args, launcher))
        command += " " + shellQuoted(word);
    return command;
}

// The environment of this process with `env`'s changes, as "NAME=VALUE" entries.
inline std::vector<std::string> changedEnvironment(const Environment& env) {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) entries.emplace_back(*e);
    for (const std::string& setting : env.settings) {
        const bool unset = setting.rfind("-u ", 0) == 0;
        const std::string name = unset ? setting.substr(3) : setting.substr(0, setting.find('='));
        std::erase_if(entries, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
        if (!unset)
            entries.push_back(setting);
    }
    return entries;
}

// Runs `program` and waits for it to end and for its output to close, for at most
// gProgramTimeLimitSeconds; then it is killed with everything it started, and the test fails.
// Standard output and error are collected together; standard input is /dev/null. The program
// runs in a process group of its own.
inline ProgramOutcome runProgram(const Program& program, const Environment& env = Environment(),
                                 const Arguments& args = Arguments(),
                                 const Launcher& launcher = Launcher()) {
    ProgramOutcome outcome;
    std::vector<std::string> words = commandWords(program, args, launcher);
    std::vector<std::string> entries = changedEnvironment(env);
    std::vector<char*> argv, envp;
    for (auto& w : words) argv.push_back(w.data());
    for (auto& e : entries) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        ADD_FAILURE() << argv[0] << " does not start: " << std::strerror(spawned);
        return outcome;
    }

    // Real time, whatever clock the test installed.
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::seconds(gProgramTimeLimitSeconds);
    auto msLeft = [&] {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
        return static_cast<int>(std::max<long>(0, left.count()));
    };
    bool open = true;
    while (open && msLeft() > 0) {
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (::poll(&fd, 1, msLeft()) <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n > 0)
            outcome.out.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            open = false;
    }
    ::close(pipeFds[0]);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && msLeft() > 0) ::usleep(2000);
    if (ended == 0) {
        outcome.timedOut = true;
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        ended = ::waitpid(pid, &status, 0);
    } else if (open) {
        outcome.timedOut = true;  // ended, but what it started still held its output
        ::kill(-pid, SIGKILL);
    }
    if (outcome.timedOut)
        ADD_FAILURE() << shellCommand(program, env, args, launcher) << " ran past "
                      << gProgramTimeLimitSeconds << " s and was killed; its output:\n"
                      << outcome.out;
    if (ended == pid && WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    if (ended == pid && WIFSIGNALED(status))
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
        return Environment({"TILVEX_RESOURCES=" TILVEX_SOURCE_DIR "/app/Resources"});
    }
    Arguments arguments(const std::string& script, const Arguments& settings) {
        std::string path = folder_ / ("script-" + std::to_string(++runs_) + ".txt");
        std::ofstream(path) << script;
        Arguments args({"--home", home()});
        args.words.insert(args.words.end(), settings.words.begin(), settings.words.end());
        args.words.insert(args.words.end(), {"--script", path});
        return args;
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
