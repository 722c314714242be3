#include "shell/termsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace corvane {
namespace {

int pipeFds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP};

extern "C" void onTerminationSignal(int signalNumber) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void setHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    for (const int s : kSignals)
        setHandler(s, onTerminationSignal);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_)
        return;
    for (const int s : kSignals)
        setHandler(s, SIG_DFL);
    delete notifier_;
    for (int& fd : pipeFds) {
        ::close(fd);
        fd = -1;
    }
}

void TerminationSignals::drain() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        emit received(byte);
}

} // namespace corvane
