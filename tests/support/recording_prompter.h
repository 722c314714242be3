// A prompter for tests: records every question and answers from a script, so no test can
// wait on a modal dialog.
#pragma once

#include "platform/prompter.h"

#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace corvane::test {

class RecordingPrompter : public Prompter {
public:
    RecordingPrompter() { setPrompter(this); }
    ~RecordingPrompter() override { setPrompter(nullptr); }
    RecordingPrompter(const RecordingPrompter&) = delete;
    RecordingPrompter& operator=(const RecordingPrompter&) = delete;

    // Answers for the next message boxes, in order; without one the box's default is taken.
    void answer(MsgAnswer a) { answers_.push_back(a); }
    // Names for the next file dialogs; an empty optional answers "cancelled".
    void answerFile(const std::optional<QString>& name) {
        files_.emplace_back(name.has_value(), name.value_or(QString()));
    }

    MsgAnswer message(const MessageRequest& request) override {
        messages.push_back(request);
        // Copied: the callback may replace itself.
        if (const auto open = whileOpen)
            open(request);
        if (answers_.empty())
            return request.defaultAnswer;
        const MsgAnswer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    std::optional<QString> openFileName(const FileRequest& request) override {
        fileRequests.push_back(request);
        return nextFile();
    }
    std::optional<QString> saveFileName(const FileRequest& request) override {
        fileRequests.push_back(request);
        return nextFile();
    }

    // Runs while a box stands open, before it is answered: what the event loop of a real
    // modal box lets happen meanwhile (timers, refreshes, changes by others).
    std::function<void(const MessageRequest&)> whileOpen;

    std::vector<MessageRequest> messages;
    std::vector<FileRequest> fileRequests;

private:
    std::optional<QString> nextFile() {
        if (files_.empty())
            return std::nullopt;
        const auto [chosen, name] = files_.front();
        files_.pop_front();
        if (!chosen)
            return std::nullopt;
        return name;
    }
    std::deque<MsgAnswer> answers_;
    std::deque<std::pair<bool, QString>> files_; // (chosen, name)
};

} // namespace corvane::test
