#pragma once
// A touch script: one command a line, "#" starts a comment, blank lines are skipped.
//
//   tap NAME                                 touch down and up inside the control NAME
//   wait SECONDS                             let the application run that long (0 to 600 s)
//   wait-until NAME.PROP VALUE [SECONDS]     run until the property reads VALUE (limit 30 s,
//                                            at most 600 s)
//   alert BUTTON                             press the button titled BUTTON on the alert on screen
//   sheet BUTTON                             press the button titled BUTTON on the action sheet
//   mail send|save|cancel                    answer the mail composer on screen
//   select-row N                             select row N (a whole number from 0) of the table
//                                            on screen
//   delete-row N                             commit the delete editing style on row N
//   back                                     the navigation bar's back button
//   slide NAME VALUE                         touch down, value changed to VALUE, touch up inside
//   expect NAME.PROP VALUE                   the property must read VALUE (the rest of the line)
//   screenshot FILE.png                      write the composed screen
//   background                               the application resigns active
//   location LAT LON                         a location fix for the location manager
//   quit                                     the termination sequence, then the program ends
//
// A wait-until value of several words whose last word is a number takes that number as the
// limit, except for titleColor, whose value is always four numbers.
//
// Numbers are decimal digits with at most one point, after a minus for a location or a slider
// value; a number in another notation (0x10, 1e1, inf) is refused, as a limit too. A script
// holds at most 1 MiB and a line at most 4096 bytes, without a NUL byte.
//
// The script runs on the main run loop between events. A failed command prints
// "FILE:LINE: what was expected and what was found" to standard error, sets the application's
// exit status to 1 and terminates it; at the end of the script the application terminates as
// `quit` does.
//
// Threads: main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Automation/AutomationDriver.h"
#include "platform/Foundation/NSTimer.h"

class AutomationScript : public NSObject {
  public:
    struct Command {
        int line = 0;
        std::string verb;
        std::vector<std::string> words;  // after the verb
        std::string rest;                // the line after the verb, trimmed
    };

    // Reads and checks the script at `path`; nullptr with `*error` ("FILE:LINE: ...", or the
    // file's own failure) when it cannot be read or a line is not a command.
    static std::shared_ptr<AutomationScript> load(const std::string& path, std::string* error);
    // The same for a script text; `name` stands for the file in messages.
    static std::shared_ptr<AutomationScript> parse(const std::string& name, const std::string& text,
                                                   std::string* error);

    // Starts running at the next pass of the main run loop. Once only.
    void start(std::shared_ptr<UIApplication> application);
    bool isFinished() const { return finished_; }

  private:
    AutomationScript() = default;
    // Runs commands until one has to wait or the script ends.
    void resume();
    // Runs `command`; false when it must be retried later (a wait-until that does not yet hold).
    bool run(const Command& command);
    void fail(const Command& command, const std::string& what);
    void finish();
    void resumeAfter(NSTimeInterval seconds);

    std::string name_;
    std::vector<Command> commands_;
    size_t next_ = 0;
    std::unique_ptr<AutomationDriver> driver_;
    std::optional<NSTimeInterval> waitDeadline_;  // on Clock::monotonic()
    bool started_ = false;
    bool finished_ = false;
};
