#pragma once
// A view that takes a person's typing: the phone's keyboard (on a desktop, the computer's).
// UIApplication hands the typing to such a view while it is on screen (see
// UIApplication::keyInput).
//
// Threads: main thread only.

#include <string>

class UIKeyInput {
  public:
    virtual ~UIKeyInput() = default;

    // Whether the view takes typing now (a field of it has the caret).
    virtual bool acceptsTyping() const = 0;
    // Text typed or pasted, UTF-8: a key's character, or an input method's whole composition;
    // "\n" for the Return key.
    virtual void insertText(const std::string& text) = 0;
    // Backspace: the character before the caret goes.
    virtual void deleteBackward() = 0;
    // Tab (Shift+Tab: backwards): the caret goes to the next field.
    virtual void moveToNextField(bool backwards) = 0;
};
