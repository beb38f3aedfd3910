// Shows one message box with the real platform layer: probe TEXT CAPTION.
#include "image/message_box.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    showModalMessage(argv[1], argv[2]);
    return 0;
}
