#include "tests/support/message_recorder.h"

#include "image/message_box.h"

namespace {

std::vector<RecordedMessage>& messages() {
    static std::vector<RecordedMessage> recorded;
    return recorded;
}

}  // namespace

void showModalMessage(const char* text, const char* caption) {
    messages().push_back(RecordedMessage{text, caption});
}

const std::vector<RecordedMessage>& recordedMessages() {
    return messages();
}

void clearRecordedMessages() {
    messages().clear();
}
