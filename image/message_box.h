#pragma once

// Shows `text` in a modal box titled `caption` and returns once the user dismisses it.
// With no display to show it on, the text goes to stderr instead.
void showModalMessage(const char* text, const char* caption);
