#pragma once
// Observes every key press and release of the desktop, whichever window has the focus (on X11:
// XInput2 raw key events on the root window; nothing is grabbed or swallowed), keeps the
// modifier state of modifier_state.h and reports each event to one handler. GUI thread.

#include <functional>

// modifier: the state after the event; key: its virtual-key code; keyState: 1 press, 2 release.
using KeyboardHandler = std::function<void(int modifier, int key, int keyState)>;

// Installs the hook with handler unless one is installed (then it does nothing and returns
// false). Returns true when installed; the desktop's keys are observed only where the display
// offers raw key events (keyboardObserved).
bool installKeyboardHook(KeyboardHandler handler);
// Removes the hook (nothing when none is installed) and resets the modifier state.
void removeKeyboardHook();
bool keyboardHookInstalled();
// Whether the installed hook receives the desktop's key events.
bool keyboardObserved();

// Feeds one key event through the installed hook as the display would (tests, and the display
// reader). pressed: press or release of virtualKey.
void feedKeyboardEvent(int virtualKey, bool pressed);
