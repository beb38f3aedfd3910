#pragma once

// Shows `text` in a modal box titled `caption` and returns once the user dismisses it.
// Where there is no display to show it on (Linux without X), the text goes to stderr instead.
void showModalMessage(const char* text, const char* caption);
