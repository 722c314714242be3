// SIGTERM and SIGHUP as a Qt signal: the handler only writes a byte to a pipe, and the event
// loop reads it, so nothing but write(2) runs inside the handler.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace corvane {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // One at a time; the handlers are put back to the default when it goes.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool installed() const { return notifier_ != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace corvane
