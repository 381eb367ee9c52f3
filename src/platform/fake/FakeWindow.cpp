#include "platform/fake/FakePlatform.h"

#include "platform/fake/FakeInternal.h"

namespace tidewell {

void FakePlatform::queueAnswers(std::initializer_list<bool> answers) {
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

// --- Platform: user interface --------------------------------------------------------------------

bool FakePlatform::askYesNo(const std::u16string& text, const std::u16string& title,
                            NoticeIcon icon, bool yesIsDefault) {
    bool answer = false;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    messages.push_back({text, title, icon, true, yesIsDefault, answer});
    return answer;
}

void FakePlatform::showNotice(const std::u16string& text, const std::u16string& title,
                              NoticeIcon icon) {
    messages.push_back({text, title, icon, false, false, false});
}

void FakePlatform::setWaitCursor(bool waiting) {
    cursorChanges.push_back(waiting);
}

void FakePlatform::repaintWindow() {
    ++repaintCount;
}

} // namespace tidewell
