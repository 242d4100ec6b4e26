#pragma once
// The keyboard shortcut's modifier state: the virtual-key code of the last modifier pressed
// (16 Shift, 17 Ctrl, 18 Alt, 91 Windows key), 0 once a modifier is released. Pure functions, so
// the state machine is the same whatever observes the keyboard.

inline constexpr int kVkShift = 16;
inline constexpr int kVkCtrl = 17;
inline constexpr int kVkAlt = 18;
inline constexpr int kVkWin = 91;

// keyState values handed to the shortcut handler.
inline constexpr int kKeyPressed = 1;
inline constexpr int kKeyReleased = 2;

// The modifier a key stands for (16, 17, 18 or 91), or 0 when it is no modifier key. Keys are the
// left/right virtual-key codes a keyboard reports: 160/161 Shift, 162/163 Ctrl, 164/165 Alt,
// 91/92 Windows key.
int modifierOfKey(int virtualKey);

// The state after one key event: a modifier pressed becomes the state, a modifier released
// clears it, any other key leaves it as it was.
int nextModifierState(int state, int virtualKey, bool pressed);

// The virtual-key code of an X keysym (level 0 of the key): modifiers as left/right codes, arrows
// 37-40, digits 48-57, keypad digits 96-105 (also their navigation keysyms when Num Lock is off),
// letters 65-90. 0 for keys the shortcuts do not know.
int virtualKeyOfKeysym(unsigned long keysym);
