#include "platform/prompter.h"

#include <cstdio>

namespace corvane {
namespace {

ConsolePrompter consolePrompter;
Prompter* current = &consolePrompter;

} // namespace

MsgAnswer ConsolePrompter::message(const MessageRequest& request) {
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(request.caption), qUtf8Printable(request.text));
    return request.defaultAnswer;
}

Prompter& prompter() {
    return *current;
}

void setPrompter(Prompter* p) {
    current = p ? p : &consolePrompter;
}

MsgAnswer showMessage(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons,
                      MsgAnswer defaultAnswer) {
    return prompter().message({text, caption, icon, buttons, defaultAnswer});
}

bool confirm(const QString& text, const QString& caption, MsgIcon icon) {
    return showMessage(text, caption, icon, MsgButtons::YesNo, MsgAnswer::No) == MsgAnswer::Yes;
}

} // namespace corvane
