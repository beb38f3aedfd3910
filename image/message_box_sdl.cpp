#include <SDL.h>
#include <dbus/dbus.h>

#include <cstdio>
#include <cstring>

#include "image/message_box.h"

namespace {

// SDL for as long as one box is up. Starting its video also connects it to the D-Bus session
// and system buses, which only SDL_Quit closes; and SDL leaves libdbus's own global state to
// the program (dbus_shutdown), as a library cannot know whether others in the process still
// use it. Nothing else here does, so a box leaves neither connections nor that state behind.
class SdlVideo {
public:
    // SDL tries zenity before its own X11 box unless a video driver is up, and zenity's failure
    // to reach a display still reads as success there, so the message would be lost. With SDL's
    // X11 video driver started, the box is SDL's own, and a failed start means there is no
    // display.
    SdlVideo() {
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
        started_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    ~SdlVideo() {
        SDL_Quit();
        dbus_shutdown();
    }
    SdlVideo(const SdlVideo&) = delete;
    SdlVideo& operator=(const SdlVideo&) = delete;

    bool started() const { return started_; }

private:
    bool started_ = false;
};

bool showBox(const char* text, const char* caption) {
    const SdlVideo video;
    return video.started() &&
           SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr) == 0;
}

}  // namespace

void showModalMessage(const char* text, const char* caption) {
    if (showBox(text, caption)) return;
    // No display to show it on: one line on stderr, without doubling the text's own line feed.
    size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == '\n') --length;
    std::fprintf(stderr, "%s: %.*s\n", caption, static_cast<int>(length), text);
}
