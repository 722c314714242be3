// A bench program's answers to the questions nobody is there to answer, and its waits.
#pragma once

#include "platform/prompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <optional>

namespace corvane::bench {

// Every question is counted, shown on standard error and takes its default.
class CountingPrompter : public Prompter {
public:
    MsgAnswer message(const MessageRequest& request) override {
        ++asked;
        std::fprintf(stderr, "asked: %s: %s\n", qPrintable(request.caption),
                     qPrintable(request.text));
        return request.defaultAnswer;
    }
    std::optional<QString> openFileName(const FileRequest&) override { return file(); }
    std::optional<QString> saveFileName(const FileRequest&) override { return file(); }
    int asked = 0;

private:
    std::optional<QString> file() {
        ++asked;
        return std::nullopt;
    }
};

inline bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

} // namespace corvane::bench
