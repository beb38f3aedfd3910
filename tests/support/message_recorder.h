#pragma once

// Linked in place of the real message box: `showModalMessage` records each call instead of
// showing it, so tests can check what the loader would have shown.

#include <string>
#include <vector>

struct RecordedMessage {
    std::string text;
    std::string caption;
};

// Every message shown since the last `clearRecordedMessages`, oldest first.
const std::vector<RecordedMessage>& recordedMessages();
void clearRecordedMessages();
