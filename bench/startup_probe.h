#pragma once
// Ends a start-up measurement: when the first dialog has been exposed on the screen and the event
// queue has run dry (a zero timer fires only then), prints the milliseconds since the driver started
// the process (VORSA_BENCH_T0, CLOCK_MONOTONIC nanoseconds) and closes the dialog, which ends the
// program.

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vorsa::bench {

class IdleProbe : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!m_done && dialog && event->type() == QEvent::Expose && dialog->isVisible()) {
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
        }
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
