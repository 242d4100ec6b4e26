#include "platform/shortcut_hook.h"

#include "platform/modifier_state.h"
#include "util/gui_thread.h"

#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cstdlib>
#include <memory>

namespace {

bool g_installed = false;
KeyboardHandler g_handler;
int g_modifier = 0;

// The hook's own display connection and its reader on the GUI thread's event loop.
Display* g_display = nullptr;
int g_xiOpcode = 0;
std::unique_ptr<QSocketNotifier> g_notifier;

void readDisplay()
{
    while (g_display != nullptr && XPending(g_display) > 0) {
        XEvent event;
        XNextEvent(g_display, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != g_xiOpcode ||
            !XGetEventData(g_display, cookie))
            continue;
        if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const KeySym keysym =
                XkbKeycodeToKeysym(g_display, static_cast<KeyCode>(raw->detail), 0, 0);
            const int key = virtualKeyOfKeysym(keysym);
            const bool pressed = cookie->evtype == XI_RawKeyPress;
            XFreeEventData(g_display, cookie);
            if (key != 0)
                feedKeyboardEvent(key, pressed);
            continue;
        }
        XFreeEventData(g_display, cookie);
    }
}

void openDisplayReader()
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program never changes its environment
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return;
    int opcode = 0, firstEvent = 0, firstError = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &firstEvent, &firstError) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        XCloseDisplay(display);
        return;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XFlush(display);
    g_display = display;
    g_xiOpcode = opcode;
    g_notifier =
        std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    QObject::connect(g_notifier.get(), &QSocketNotifier::activated, [] { readDisplay(); });
    readDisplay();
}

void closeDisplayReader()
{
    g_notifier.reset();
    if (g_display != nullptr) {
        XCloseDisplay(g_display);
        g_display = nullptr;
    }
}

} // namespace

bool installKeyboardHook(KeyboardHandler handler)
{
    gui::assertGuiThread();
    if (g_installed)
        return false;
    g_installed = true;
    g_handler = std::move(handler);
    g_modifier = 0;
    openDisplayReader();
    return true;
}

void removeKeyboardHook()
{
    gui::assertGuiThread();
    closeDisplayReader();
    g_installed = false;
    g_handler = nullptr;
    g_modifier = 0;
}

bool keyboardHookInstalled()
{
    return g_installed;
}

bool keyboardObserved()
{
    return g_display != nullptr;
}

void feedKeyboardEvent(int virtualKey, bool pressed)
{
    if (!g_installed)
        return;
    g_modifier = nextModifierState(g_modifier, virtualKey, pressed);
    if (g_handler) {
        const KeyboardHandler handler = g_handler; // the handler may remove the hook
        handler(g_modifier, virtualKey, pressed ? kKeyPressed : kKeyReleased);
    }
}
