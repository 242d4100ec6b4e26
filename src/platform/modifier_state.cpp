#include "platform/modifier_state.h"

#include <X11/keysym.h>

int modifierOfKey(int virtualKey)
{
    switch (virtualKey) {
    case 160:
    case 161: return kVkShift;
    case 162:
    case 163: return kVkCtrl;
    case 164:
    case 165: return kVkAlt;
    case 91:
    case 92: return kVkWin;
    default: return 0;
    }
}

int nextModifierState(int state, int virtualKey, bool pressed)
{
    const int modifier = modifierOfKey(virtualKey);
    if (modifier == 0)
        return state;
    return pressed ? modifier : 0;
}

int virtualKeyOfKeysym(unsigned long keysym)
{
    switch (keysym) {
    case XK_Shift_L: return 160;
    case XK_Shift_R: return 161;
    case XK_Control_L: return 162;
    case XK_Control_R: return 163;
    case XK_Alt_L:
    case XK_Meta_L: return 164;
    case XK_Alt_R:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift: return 165;
    case XK_Super_L: return 91;
    case XK_Super_R: return 92;
    case XK_Left: return 37;
    case XK_Up: return 38;
    case XK_Right: return 39;
    case XK_Down: return 40;
    // Keypad keys as level 0 reports them with Num Lock off.
    case XK_KP_Insert: return 96;
    case XK_KP_End: return 97;
    case XK_KP_Down: return 98;
    case XK_KP_Next: return 99;
    case XK_KP_Left: return 100;
    case XK_KP_Begin: return 101;
    case XK_KP_Right: return 102;
    case XK_KP_Home: return 103;
    case XK_KP_Up: return 104;
    case XK_KP_Prior: return 105;
    default: break;
    }
    if (keysym >= XK_0 && keysym <= XK_9)
        return static_cast<int>(48 + (keysym - XK_0));
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9)
        return static_cast<int>(96 + (keysym - XK_KP_0));
    if (keysym >= XK_a && keysym <= XK_z)
        return static_cast<int>(65 + (keysym - XK_a));
    if (keysym >= XK_A && keysym <= XK_Z)
        return static_cast<int>(65 + (keysym - XK_A));
    return 0;
}
