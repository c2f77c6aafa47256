#include "platform/Automation/AutomationScript.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string_view>

#include "platform/Foundation/NSRunLoop.h"

namespace {

constexpr NSTimeInterval kDefaultWaitLimit = 30.0;
// The longest wait, and the largest limit of a wait-until: a script runs for a bounded time.
constexpr NSTimeInterval kLongestWait = 600.0;
// How often a wait-until looks again.
constexpr NSTimeInterval kPollInterval = 0.01;
// The largest script and the longest line it may hold, in bytes: a file without end (a device,
// a pipe that never closes) is refused instead of read into memory.
constexpr size_t kLargestScript = 1 << 20;
constexpr size_t kLongestLine = 4096;

// Each verb with the least and most words it takes (-1: any number).
const std::map<std::string, std::pair<int, int>>& verbs() {
    static const std::map<std::string, std::pair<int, int>> table = {
        {"tap", {1, 1}},     {"wait", {1, 1}},       {"wait-until", {2, -1}}, {"alert", {1, -1}},
        {"expect", {2, -1}}, {"screenshot", {1, 1}}, {"background", {0, 0}},  {"location", {2, 2}},
        {"quit", {0, 0}},    {"select-row", {1, 1}}, {"delete-row", {1, 1}},  {"back", {0, 0}},
        {"slide", {2, 2}},   {"sheet", {1, -1}},     {"mail", {1, 1}},
    };
    return table;
}

// A number as scripts write it: decimal digits with at most one point, after an optional minus
// ("0.25", "600", "-33.9"); no exponent, no hexadecimal, no inf or nan.
std::optional<double> numberIn(const std::string& word) {
    std::string_view digits(word);
    if (digits.starts_with('-'))
        digits.remove_prefix(1);
    if (digits.find_first_not_of("0123456789.") != std::string_view::npos ||
        digits.find('.') != digits.rfind('.') ||
        digits.find_first_of("0123456789") == std::string_view::npos)
        return std::nullopt;
    double value = 0;
    auto [end, failure] =
        std::from_chars(word.data(), word.data() + word.size(), value, std::chars_format::fixed);
    if (failure != std::errc() || end != word.data() + word.size())
        return std::nullopt;
    return value;
}

// Whether the C library reads `word` whole as a number, in any notation it knows.
bool readsAsNumber(const std::string& word) {
    char* end = nullptr;
    std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0';
}

// False for NaN, which fails both comparisons.
bool isWaitLength(double seconds) {
    return seconds >= 0 && seconds <= kLongestWait;
}

std::optional<NSTimeInterval> secondsIn(const std::string& word) {
    auto value = numberIn(word);
    return value && isWaitLength(*value) ? value : std::nullopt;
}

// "from 0 to 600 s", for messages.
std::string waitRange() {
    return "from 0 to " + std::to_string(static_cast<int>(kLongestWait)) + " s";
}

// A row number: a whole number from 0 that an int holds.
std::optional<int> rowIn(const std::string& word) {
    int row = 0;
    auto [end, failure] = std::from_chars(word.data(), word.data() + word.size(), row);
    if (failure != std::errc() || end != word.data() + word.size() || row < 0)
        return std::nullopt;
    return row;
}

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// NAME.PROP, split at the last dot.
bool splitTarget(const std::string& target, std::string* name, std::string* property) {
    size_t dot = target.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == target.size())
        return false;
    *name = target.substr(0, dot);
    *property = target.substr(dot + 1);
    return true;
}

struct Expectation {
    std::string name;
    std::string property;
    std::string value;
    NSTimeInterval limit = kDefaultWaitLimit;
};

// The NAME.PROP VALUE [SECONDS] of expect and wait-until.
std::optional<Expectation> expectationOf(const AutomationScript::Command& command,
                                         bool takesLimit) {
    Expectation e;
    if (!splitTarget(command.words[0], &e.name, &e.property))
        return std::nullopt;
    std::vector<std::string> value(command.words.begin() + 1, command.words.end());
    bool colour = e.property == "titleColor";
    if (takesLimit && value.size() >= 2 && !(colour && value.size() == 4)) {
        // A limit in another notation (0x10, 1e1) is no limit: NaN, which the reader refuses.
        if (readsAsNumber(value.back())) {
            e.limit = numberIn(value.back()).value_or(std::numeric_limits<double>::quiet_NaN());
            value.pop_back();
        }
    }
    if (takesLimit) {
        for (size_t i = 0; i < value.size(); ++i) e.value += (i ? " " : "") + value[i];
    } else {
        e.value = trimmed(command.rest.substr(command.words[0].size()));
    }
    return e;
}

}  // namespace

std::shared_ptr<AutomationScript> AutomationScript::load(const std::string& path,
                                                         std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::string text(kLargestScript + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!file.is_open() || file.bad()) {
        *error = path + ": cannot read the script";
        return nullptr;
    }
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kLargestScript) {
        *error = path + ": the script is larger than " + std::to_string(kLargestScript) + " bytes";
        return nullptr;
    }
    return parse(path, text, error);
}

std::shared_ptr<AutomationScript> AutomationScript::parse(const std::string& name,
                                                          const std::string& text,
                                                          std::string* error) {
    std::shared_ptr<AutomationScript> script(new AutomationScript);
    script->name_ = name;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::string where = name + ":" + std::to_string(number) + ": ";
        if (line.size() > kLongestLine) {
            *error = where + "the line is longer than " + std::to_string(kLongestLine) + " bytes";
            return nullptr;
        }
        if (line.find('\0') != std::string::npos) {
            *error = where + "the line holds a NUL byte";
            return nullptr;
        }
        if (size_t hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        Command command;
        command.line = number;
        if (!(words >> command.verb))
            continue;
        for (std::string word; words >> word;) command.words.push_back(word);
        command.rest = trimmed(trimmed(line).substr(command.verb.size()));
        auto verb = verbs().find(command.verb);
        if (verb == verbs().end()) {
            *error = where + "unknown command " + command.verb;
            return nullptr;
        }
        auto [least, most] = verb->second;
        int count = static_cast<int>(command.words.size());
        if (count < least || (most >= 0 && count > most)) {
            *error = where + command.verb + " takes " +
                     (least == most ? std::to_string(least) : std::to_string(least) + " or more") +
                     " argument(s), found " + std::to_string(count);
            return nullptr;
        }
        for (size_t i = 0; i < command.words.size(); ++i) {
            const std::string& word = command.words[i];
            if ((command.verb == "location" || (command.verb == "slide" && i == 1)) &&
                !numberIn(word)) {
                *error = where + command.verb + " takes numbers, found " + word;
                return nullptr;
            }
        }
        if (command.verb == "wait" && !secondsIn(command.words[0])) {
            *error = where + "wait takes seconds " + waitRange() + ", found " + command.words[0];
            return nullptr;
        }
        if ((command.verb == "select-row" || command.verb == "delete-row") &&
            !rowIn(command.words[0])) {
            *error = where + command.verb + " takes a row number from 0 to " +
                     std::to_string(INT_MAX) + ", found " + command.words[0];
            return nullptr;
        }
        if (command.verb == "expect" || command.verb == "wait-until") {
            auto expectation = expectationOf(command, command.verb == "wait-until");
            if (!expectation) {
                *error = where + "expected NAME.PROPERTY, found " + command.words[0];
                return nullptr;
            }
            if (!isWaitLength(expectation->limit)) {
                *error = where + "wait-until takes a limit " + waitRange() + ", found " +
                         command.words.back();
                return nullptr;
            }
        }
        script->commands_.push_back(std::move(command));
    }
    return script;
}

void AutomationScript::start(std::shared_ptr<UIApplication> application) {
    if (started_)
        return;
    started_ = true;
    driver_ = std::make_unique<AutomationDriver>(std::move(application));
    std::weak_ptr<AutomationScript> weak = retained(this);
    NSRunLoop::mainRunLoop()->post([weak] {
        if (auto script = weak.lock())
            script->resume();
    });
}

void AutomationScript::resume() {
    while (!finished_ && next_ < commands_.size()) {
        if (!run(commands_[next_]))
            return;
        if (finished_)
            return;
        ++next_;
        waitDeadline_.reset();
        if (commands_[next_ - 1].verb == "wait")
            return;  // resumed by its timer
    }
    if (!finished_)
        finish();
}

bool AutomationScript::run(const Command& command) {
    const auto& words = command.words;
    AutomationResult result = AutomationResult::ok();
    if (command.verb == "tap") {
        result = driver_->tap(words[0]);
    } else if (command.verb == "wait") {
        resumeAfter(*secondsIn(words[0]));
    } else if (command.verb == "select-row") {
        result = driver_->selectRow(*rowIn(words[0]));
    } else if (command.verb == "delete-row") {
        result = driver_->deleteRow(*rowIn(words[0]));
    } else if (command.verb == "back") {
        result = driver_->back();
    } else if (command.verb == "slide") {
        result = driver_->slide(words[0], static_cast<float>(*numberIn(words[1])));
    } else if (command.verb == "alert") {
        result = driver_->pressAlertButton(command.rest);
    } else if (command.verb == "sheet") {
        result = driver_->pressSheetButton(command.rest);
    } else if (command.verb == "mail") {
        result = driver_->answerMail(words[0]);
    } else if (command.verb == "screenshot") {
        result = driver_->screenshot(words[0]);
    } else if (command.verb == "background") {
        driver_->background();
    } else if (command.verb == "location") {
        driver_->deliverLocation(*numberIn(words[0]), *numberIn(words[1]));
    } else if (command.verb == "quit") {
        finish();
        return true;
    } else {
        bool waits = command.verb == "wait-until";
        Expectation e = *expectationOf(command, waits);
        std::string error;
        auto found = driver_->readProperty(e.name, e.property, &error);
        const bool matches = found && *found == e.value;
        if (!matches && waits) {
            if (!waitDeadline_)
                waitDeadline_ = Clock::current().monotonic() + e.limit;
            if (Clock::current().monotonic() < *waitDeadline_) {
                resumeAfter(kPollInterval);
                return false;
            }
            result = AutomationResult::failed(
                "expected " + words[0] + " to read \"" + e.value + "\" within " +
                std::to_string(e.limit) + " s, found " + (found ? "\"" + *found + "\"" : error));
        } else if (!matches) {
            result =
                AutomationResult::failed("expected " + words[0] + " to read \"" + e.value +
                                         "\", found " + (found ? "\"" + *found + "\"" : error));
        }
    }
    if (!result)
        fail(command, result.failure());
    return true;
}

void AutomationScript::resumeAfter(NSTimeInterval seconds) {
    std::weak_ptr<AutomationScript> weak = retained(this);
    auto resume = [weak](NSTimer&) {
        if (auto script = weak.lock())
            script->resume();
    };
    NSRunLoop::mainRunLoop()->addTimer(
        NSTimer::timerWithTimeInterval(seconds, resume, Value(), false));
}

void AutomationScript::fail(const Command& command, const std::string& what) {
    const std::string failure = name_ + ":" + std::to_string(command.line) + ": " + what;
    std::fprintf(stderr, "%s\n", failure.c_str());
    driver_->application().setExitStatus(1);
    finish();
}

void AutomationScript::finish() {
    if (finished_)
        return;
    finished_ = true;
    driver_->quit();
}
