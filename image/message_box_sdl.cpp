#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "image/message_box.h"

void showModalMessage(const char* text, const char* caption) {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr) == 0) return;
    // No display to show it on: one line on stderr, without doubling the text's own line feed.
    size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == '\n') --length;
    std::fprintf(stderr, "%s: %.*s\n", caption, static_cast<int>(length), text);
}
