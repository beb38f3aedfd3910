#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "image/message_box.h"

namespace {

// SDL tries zenity before its own X11 box unless a video driver is up, and zenity's failure to
// reach a display still reads as success there, so the message would be lost. With SDL's X11
// video driver started, the box is SDL's own, and a failed start means there is no display.
bool startX11Video() {
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

bool showBox(const char* text, const char* caption) {
    if (!startX11Video()) return false;
    const bool shown = SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr) == 0;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return shown;
}

}  // namespace

void showModalMessage(const char* text, const char* caption) {
    if (showBox(text, caption)) return;
    // No display to show it on: one line on stderr, without doubling the text's own line feed.
    size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == '\n') --length;
    std::fprintf(stderr, "%s: %.*s\n", caption, static_cast<int>(length), text);
}
