// Prompter backed by real message boxes and file dialogs.
#pragma once

#include "platform/prompter.h"

class QWidget;

namespace corvane {

class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    MsgAnswer message(const MessageRequest& request) override;
    std::optional<QString> openFileName(const FileRequest& request) override;
    std::optional<QString> saveFileName(const FileRequest& request) override;

private:
    QWidget* parent_;
};

} // namespace corvane
