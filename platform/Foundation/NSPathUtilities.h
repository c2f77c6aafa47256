#pragma once
// The application's home folder (the phone's sandbox) and the search for its standard folders.
//
// Threads: any thread.

#include <string>
#include <vector>

enum NSSearchPathDirectory { NSDocumentDirectory = 9 };
enum NSSearchPathDomainMask { NSUserDomainMask = 1 };

// The home folder the environment names: $TILVEX_HOME, else $XDG_DATA_HOME/tilvex, else
// ~/.local/share/tilvex (with ~ expanded). Read afresh at every call.
std::string homeDirectoryFromEnvironment();

// The application's home folder: the one given to NSSetHomeDirectory (the device sets it at
// start-up), else homeDirectoryFromEnvironment().
std::string NSHomeDirectory();
// Sets the home folder for the whole process; "" goes back to the environment's.
void NSSetHomeDirectory(std::string path);

// {HOME/Documents} for the document directory in the user domain, else {}; with `expandTilde` a
// leading "~" is expanded. Creates nothing.
std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domainMask,
                                                             bool expandTilde);
