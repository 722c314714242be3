// The one way the program asks the user something: message boxes and file dialogs. The GUI
// installs a prompter backed by real dialogs; tests install one that records and answers.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvane {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
    QString text;
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
};

struct FileRequest {
    QString caption;
    QString directory;    // folder the dialog opens in; empty for the current one
    QString proposedName; // file name offered
    QStringList filters;  // "Text files (*.txt)", ...
    QString defaultSuffix;
};

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MsgAnswer message(const MessageRequest& request) = 0;
    // The chosen file, or nothing when the user cancelled.
    virtual std::optional<QString> openFileName(const FileRequest& request) = 0;
    virtual std::optional<QString> saveFileName(const FileRequest& request) = 0;
};

// Without a window there is nobody to ask: messages go to standard error and every question
// takes its default answer, so nothing can wait for input that never comes.
class ConsolePrompter : public Prompter {
public:
    MsgAnswer message(const MessageRequest& request) override;
    std::optional<QString> openFileName(const FileRequest&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileRequest&) override { return std::nullopt; }
};

Prompter& prompter();
// Installs p (not owned); nullptr returns to the console prompter.
void setPrompter(Prompter* p);

// Shorthands used throughout the program.
MsgAnswer showMessage(const QString& text, const QString& caption, MsgIcon icon,
                      MsgButtons buttons = MsgButtons::Ok, MsgAnswer defaultAnswer = MsgAnswer::Ok);
// A Yes/No question with No as the default; true for Yes.
bool confirm(const QString& text, const QString& caption, MsgIcon icon = MsgIcon::Question);

} // namespace corvane
