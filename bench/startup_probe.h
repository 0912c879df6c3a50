#pragma once
// Ends a start-up measurement: when the first dialog's window has been exposed on the screen and the
// events queued until then have been handled (a zero timer started at the exposure fires only after
// them), prints the milliseconds since the driver started the process (VORSA_BENCH_T0, CLOCK_MONOTONIC
// nanoseconds) and closes the dialog, which ends the program.

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vorsa::bench {

class IdleProbe : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Exposure reaches the dialog's native window (a QWindow), never the dialog widget itself.
        if (m_done || event->type() != QEvent::Expose || !watched->isWindowType()) return false;
        auto* window = static_cast<QWindow*>(watched);
        if (!window->isExposed()) return false;
        QDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->windowHandle() == window) dialog = qobject_cast<QDialog*>(widget);
        if (!dialog || !dialog->isVisible()) return false;
        m_done = true;
        QTimer::singleShot(0, dialog, [dialog] {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const char* start = std::getenv("VORSA_BENCH_T0");
            const long long started = start ? std::atoll(start) : 0;
            const long long elapsed = now.tv_sec * 1000000000LL + now.tv_nsec - started;
            std::printf("%.3f\n", started ? elapsed / 1e6 : -1.0);
            std::fflush(stdout);
            dialog->close();
        });
        return false;
    }

private:
    bool m_done = false;
};

inline void install_idle_probe(QApplication& application)
{
    static IdleProbe probe;
    application.installEventFilter(&probe);
}

} // namespace vorsa::bench
