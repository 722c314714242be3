// The window's side of a call to the privileged helper. polkit may ask the user for a password
// for many seconds; meanwhile the call waits on a worker thread and the window keeps painting,
// says so in its status bar with a busy cursor, and takes no command: no user input reaches it
// and nothing refills a list. Quick calls show nothing.
#pragma once

#include "helperclient/client.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace corvane {

class RefreshCycle;
class RefreshHost;

extern const QString waitingForAuthorisationText; // "Waiting for authorisation…"

class HelperWait : public QObject {
    Q_OBJECT
public:
    static constexpr int showAfterMs = 250;

    HelperWait(RefreshHost& host, RefreshCycle& refresh, QObject* parent = nullptr);
    ~HelperWait() override; // uninstalls, and ends a waiting state left behind

    // Becomes the runner of the program's helper client and of the bound platform library's
    // (where it has the entry point); uninstall puts back waiting where the call is made.
    void install();
    void uninstall();

    // The runner, as the clients call it. On the window's thread the work goes to a worker
    // while a local event loop runs; on any other thread it runs there, and the window shows
    // the waiting state for as long.
    static void run(void* context, helper::HelperWork work, void* argument) noexcept;

    bool waiting() const { return depth_ > 0; }
    bool shown() const { return shown_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runHere(helper::HelperWork work, void* argument) noexcept;
    // Nested calls share one waiting state.
    void begin();
    void end();
    void show();

    RefreshHost& host_;
    RefreshCycle& refresh_;
    QTimer showTimer_;
    int depth_ = 0;
    bool shown_ = false;
    bool installed_ = false;
    QString remembered_; // the status text the waiting state covers
};

} // namespace corvane
