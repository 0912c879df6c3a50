#pragma once
// Ends a start-up measurement: when the first dialog's window has been exposed on the screen, is enabled
// (a program with a vendor server shows its window disabled while it waits for the server) and the
// event queue has run dry of the work posted until then and posted by that work (an event of low
// priority is delivered only after every event of normal priority in the queue, including those posted
// while they run), prints the milliseconds since the driver started the process (VORSA_BENCH_T0,
// CLOCK_MONOTONIC nanoseconds) and closes the dialog, which ends the program.

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vorsa::bench {

class IdleProbe : public QObject
{
public:
    static constexpr QEvent::Type idle_event = QEvent::User;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_waits_for_enabled && event->type() == QEvent::EnabledChange && m_dialog &&
            watched == m_dialog && m_dialog->isEnabled()) {
            m_waits_for_enabled = false;
            QCoreApplication::postEvent(this, new QEvent(idle_event), Qt::LowEventPriority);
            return false;
        }
        // Exposure reaches the dialog's native window (a QWindow), never the dialog widget itself.
        if (m_exposed || event->type() != QEvent::Expose || !watched->isWindowType()) return false;
        auto* window = static_cast<QWindow*>(watched);
        if (!window->isExposed()) return false;
        QDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->windowHandle() == window) dialog = qobject_cast<QDialog*>(widget);
        if (!dialog || !dialog->isVisible()) return false;
        m_exposed = true;
        m_dialog = dialog;
        QCoreApplication::postEvent(this, new QEvent(idle_event), Qt::LowEventPriority);
        return false;
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != idle_event) return QObject::event(event);
        if (m_dialog && !m_dialog->isEnabled()) {
            m_waits_for_enabled = true;
            return true;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const char* start = std::getenv("VORSA_BENCH_T0");
        const long long started = start ? std::atoll(start) : 0;
        const long long elapsed = now.tv_sec * 1000000000LL + now.tv_nsec - started;
        std::printf("%.3f\n", started ? static_cast<double>(elapsed) / 1e6 : -1.0);
        std::fflush(stdout);
        if (m_dialog) m_dialog->close();
        return true;
    }

private:
    bool m_exposed = false;
    bool m_waits_for_enabled = false;
    QPointer<QDialog> m_dialog;
};

inline void install_idle_probe(QApplication& application)
{
    static IdleProbe probe;
    application.installEventFilter(&probe);
}

} // namespace vorsa::bench
