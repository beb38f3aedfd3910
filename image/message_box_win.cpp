#include <windows.h>

#include "image/message_box.h"

// Owned by whichever window of this thread has the keyboard focus, or by none.
void showModalMessage(const char* text, const char* caption) {
    MessageBoxA(GetFocus(), text, caption, MB_OK);
}
