// Paces the progress call of a long run of platform calls: often enough that the window keeps
// painting, seldom enough that painting costs little.
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <utility>

namespace corvane {

class ProgressPace {
public:
    explicit ProgressPace(std::function<void()> progress) : progress_(std::move(progress)) {
        since_.start();
    }
    // Runs progress when the interval has passed, or always.
    void tick(bool always = false) {
        if (progress_ && (always || since_.nsecsElapsed() >= intervalNs)) {
            progress_();
            since_.restart();
        }
    }
    // A message box runs its own event loop: the time it stood open is no gap.
    void restart() { since_.restart(); }

private:
    // Short enough that a window painting between two calls still looks alive.
    static constexpr qint64 intervalNs = 4'000'000;
    std::function<void()> progress_;
    QElapsedTimer since_;
};

} // namespace corvane
