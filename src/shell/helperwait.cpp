#include "shell/helperwait.h"

#include "platform/iphelper.h"
#include "session/refresh.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <thread>

namespace corvane {

const QString waitingForAuthorisationText = QStringLiteral("Waiting for authorisation\u2026");

namespace {

bool userInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

HelperWait::HelperWait(RefreshHost& host, RefreshCycle& refresh, QObject* parent)
    : QObject(parent), host_(host), refresh_(refresh) {
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(showAfterMs);
    connect(&showTimer_, &QTimer::timeout, this, &HelperWait::show);
}

HelperWait::~HelperWait() {
    uninstall();
    if (depth_ > 0) {
        depth_ = 1;
        end();
    }
}

void HelperWait::install() {
    helper::setRunner(&HelperWait::run, this);
    (void)iphlp().SetHelperCallRunner(&HelperWait::run, this);
    installed_ = true;
}

void HelperWait::uninstall() {
    if (!installed_)
        return;
    installed_ = false;
    helper::setRunner(nullptr, nullptr);
    (void)iphlp().SetHelperCallRunner(nullptr, nullptr);
}

void HelperWait::run(void* context, helper::HelperWork work, void* argument) noexcept {
    auto* self = static_cast<HelperWait*>(context);
    QCoreApplication* app = QCoreApplication::instance();
    if (!self || !app) {
        work(argument);
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        self->runHere(work, argument);
        return;
    }
    // The window's thread is in an event loop of its own meanwhile (a release or renewal
    // waits on a worker): it is told when the wait begins and ends, in that order.
    try {
        QMetaObject::invokeMethod(self, &HelperWait::begin, Qt::QueuedConnection);
    } catch (...) {
        work(argument);
        return;
    }
    work(argument);
    try {
        QMetaObject::invokeMethod(self, &HelperWait::end, Qt::QueuedConnection);
    } catch (...) {
        // Without the end the waiting state stays until the window goes; still no unwinding.
    }
}

void HelperWait::runHere(helper::HelperWork work, void* argument) noexcept {
    std::atomic<bool> done{false};
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    std::thread worker;
    try {
        worker = std::thread([&] {
            work(argument);
            done.store(true);
            if (dispatcher)
                dispatcher->wakeUp();
        });
    } catch (...) {
        work(argument); // no thread to be had: the wait is on this one
        return;
    }
    try {
        begin();
        // Bounded by the call's own time limit. A quit of the application does not end it:
        // the work's arguments live on the caller's stack until the worker is done.
        while (!done.load())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                            QEventLoop::WaitForMoreEvents);
    } catch (...) {
        // Left for the worker alone; the join below still waits for it.
    }
    worker.join();
    try {
        end();
    } catch (...) {
    }
}

void HelperWait::begin() {
    if (depth_++ > 0)
        return;
    refresh_.holdOff();
    QCoreApplication::instance()->installEventFilter(this);
    showTimer_.start();
}

void HelperWait::show() {
    if (depth_ == 0 || shown_)
        return;
    shown_ = true;
    remembered_ = host_.statusText();
    host_.setStatusText(waitingForAuthorisationText);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void HelperWait::end() {
    if (depth_ == 0 || --depth_ > 0)
        return;
    showTimer_.stop();
    if (shown_) {
        shown_ = false;
        host_.setStatusText(remembered_);
        QGuiApplication::restoreOverrideCursor();
    }
    // Input the loop held back is dropped here, not handled once the wait is over.
    ++depth_;
    QCoreApplication::processEvents();
    --depth_;
    QCoreApplication::instance()->removeEventFilter(this);
    refresh_.release();
}

bool HelperWait::eventFilter(QObject* watched, QEvent* event) {
    if (depth_ > 0 && userInput(event->type()))
        return true;
    // The window manager's close would ask to end the program in the middle of the change.
    if (depth_ > 0 && event->type() == QEvent::Close && event->spontaneous() &&
        watched->isWidgetType()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace corvane
