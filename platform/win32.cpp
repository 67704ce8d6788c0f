#include "win32.h"

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!rect)
        return FALSE;
    if (!window) {
        *rect = RECT{0, 0, 0, 0};
        return FALSE;
    }
    *rect = window->ClientRect();
    return TRUE;
}
