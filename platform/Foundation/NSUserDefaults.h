#pragma once
// User defaults: a dictionary of settings kept as a binary property list.
//
// The standard defaults live in HOME/Library/Preferences/<bundle identifier>.plist (HOME as
// NSHomeDirectory() says when the shared object is made; the program's name stands in for a
// missing bundle identifier). The file is read once, when the object is made: a file that is
// missing or cannot be read counts as empty, and stays as it is until the next synchronize().
// Changes reach the file only through synchronize().
//
// A file that is there but is no property list with a dictionary at its root is damaged: it is
// logged (NSLog, naming the file) and counts as empty, and the next synchronize() first moves it
// aside to "<file>.damaged" ("<file>.damaged-2", -3... when that name is taken), so whatever it
// held is kept for a person to look at rather than overwritten.
//
// Values are property-list values (boolean, integer, real, string, data, date, arrays and
// dictionaries of them); an unsigned 64-bit integer comes back unchanged. Containers are copied
// in and out, so later changes by the caller do not reach the defaults.
//
// Threads: every method may be called from any thread (one mutex guards the dictionary).

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Foundation/Value.h"

class NSUserDefaults {
  public:
    // The shared defaults, made on first use.
    static std::shared_ptr<NSUserDefaults> standardUserDefaults();
    // Drops the shared defaults (unsaved changes are lost), so that the next
    // standardUserDefaults() is made again from the current home. For tests and for a new home.
    static void resetStandardUserDefaults();

    // Defaults kept in the file at `path`, read now.
    explicit NSUserDefaults(std::string path);

    const std::string& path() const { return path_; }

    // Null when absent.
    Value objectForKey(const std::string& key) const;
    // A number's truth, or a string "YES"/"true"/"1"...; false when absent or of another kind.
    bool boolForKey(const std::string& key) const;
    // A number (an unsigned one above INT64_MAX keeps its bits: cast back to uint64_t), or a
    // string's leading digits; 0 when absent or of another kind.
    int64_t integerForKey(const std::string& key) const;
    // A string, or a number's text; nullopt when absent or of another kind.
    std::optional<std::string> stringForKey(const std::string& key) const;

    // Setting null removes the key.
    void setObject(const Value& value, const std::string& key);
    void setBool(bool value, const std::string& key) { setObject(Value(value), key); }
    void setInteger(int64_t value, const std::string& key) { setObject(Value(value), key); }
    void removeObjectForKey(const std::string& key);

    // Writes the whole dictionary to the file, atomically, making its folder when missing (after
    // moving a damaged file aside, see above). False when it cannot be written or the damaged
    // file cannot be moved (the values stay in memory, the file as it was).
    bool synchronize();

    // A copy of every key and value.
    Value dictionaryRepresentation() const;

  private:
    const std::string path_;
    mutable std::mutex mutex_;
    // Before values_: reading the file sets it.
    bool damaged_ = false;  // the file read was damaged and has not been moved aside yet
    Value values_;          // a dictionary
};
