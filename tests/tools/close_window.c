/* Asks the X11 window with the given title to close, as a window manager's close button
 * does (WM_DELETE_WINDOW). Waits up to the given seconds for the window to appear.
 * Usage: close_window TITLE [SECONDS [PID]]; with PID, only that process's window counts, so
 * tests running side by side never close each other's windows.
 * Exit status 0 when a window was asked to close.
 * With KELVANE_PRINT_STRIP set, it closes nothing and prints the window's progress strip
 * (the _KELVANE_PROGRESS_STRIP property, empty when hidden) instead. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The window's UTF-8 text property, or NULL; the caller frees it with XFree. */
static unsigned char* utf8_property(Display* display, Window window, const char* name,
                                    unsigned long* length) {
    Atom property = XInternAtom(display, name, False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long after;
    unsigned char* data = NULL;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, utf8, &type, &format, length,
                           &after, &data) != Success) {
        return NULL;
    }
    return data;
}

static int has_title(Display* display, Window window, const char* title) {
    unsigned long length = 0;
    int match = 0;
    unsigned char* data = utf8_property(display, window, "_NET_WM_NAME", &length);
    if (data) {
        match = strcmp((const char*)data, title) == 0;
        XFree(data);
        if (match) return 1;
    }
    char* name = NULL;
    if (XFetchName(display, window, &name) && name) {
        match = strcmp(name, title) == 0;
        XFree(name);
    }
    return match;
}

static long wanted_pid = 0;

static int has_pid(Display* display, Window window) {
    if (!wanted_pid) return 1;
    Atom net_wm_pid = XInternAtom(display, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = NULL;
    int match = 0;
    if (XGetWindowProperty(display, window, net_wm_pid, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        match = count == 1 && *(unsigned long*)data == (unsigned long)wanted_pid;
        XFree(data);
    }
    return match;
}

// The toolkit's hidden leader window carries the program's name and pid as well; only a
// window on screen is the one a user closes.
static int is_viewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

static Window find_window(Display* display, Window parent, const char* title) {
    Window root, up, *children = NULL;
    unsigned int count = 0;
    Window found = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        if (has_title(display, children[i], title) && has_pid(display, children[i]) &&
            is_viewable(display, children[i]))
            found = children[i];
        else
            found = find_window(display, children[i], title);
    }
    if (children) XFree(children);
    return found;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s TITLE [SECONDS]\n", argv[0]);
        return 2;
    }
    double seconds = argc > 2 ? atof(argv[2]) : 10;
    wanted_pid = argc > 3 ? atol(argv[3]) : 0;
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "close_window: cannot open display\n");
        return 2;
    }
    Window window = 0;
    for (double waited = 0; !window && waited <= seconds; waited += 0.1) {
        window = find_window(display, DefaultRootWindow(display), argv[1]);
        if (!window) usleep(100000);
    }
    if (!window) {
        fprintf(stderr, "close_window: no window titled \"%s\"\n", argv[1]);
        return 1;
    }
    if (getenv("KELVANE_PRINT_STRIP")) {
        unsigned long length = 0;
        unsigned char* data = utf8_property(display, window, "_KELVANE_PROGRESS_STRIP", &length);
        if (data) {
            fwrite(data, 1, length, stdout);
            XFree(data);
        }
        XCloseDisplay(display);
        return 0;
    }
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
