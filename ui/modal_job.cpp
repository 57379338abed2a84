#include "ui/modal_job.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <mutex>
#include <thread>

namespace brimlow {
namespace {

constexpr int kShowAfterMs = 300; // a job that ends sooner never flashes a dialog

constexpr int kWatchMs = 10; // how often the user-interface thread looks at the job's progress and end

// The job's reports and its end wait here under a plain mutex for the user-interface thread, which applies them:
// nothing crosses threads through Qt's own queue, whose locks ThreadSanitizer cannot see.
class DialogProgress final : public JobProgress {
public:
    void Report(const QString& text, int done, int total) override {
        std::lock_guard lock(m_mutex);
        m_text = text;
        m_done = done;
        m_total = total;
        m_changed = true;
    }
    void Finish() {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    // On the user-interface thread: shows what changed; true once the job has ended.
    bool Apply(QProgressDialog& dialog) {
        std::lock_guard lock(m_mutex);
        if (m_changed) {
            dialog.setLabelText(m_text);
            dialog.setMaximum(m_total);
            dialog.setValue(m_total > 0 ? m_done : 0);
            m_changed = false;
        }
        return m_finished;
    }

private:
    std::mutex m_mutex;
    QString m_text;
    int m_done = 0;
    int m_total = 0;
    bool m_changed = false;
    bool m_finished = false;
};

// Until the progress dialog appears, input to the window that started the job is swallowed, so that nothing
// else starts in that moment; painting and every other event go on.
class InputBlocker final : public QObject {
public:
    explicit InputBlocker(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Close: {
            auto* widget = qobject_cast<QWidget*>(watched);
            return widget && m_window && widget->window() == m_window;
        }
        default:
            return false;
        }
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

void RunModalJob(QWidget* parent, const QString& title, const std::function<void(JobProgress&)>& job) {
    QProgressDialog dialog(title, QString(), 0, 0, parent);
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(kShowAfterMs);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0); // starts the minimum-duration clock
    dialog.setAccessibleName(title);

    InputBlocker blocker(parent ? parent->window() : nullptr);
    QEventLoop loop;
    DialogProgress progress;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (progress.Apply(dialog))
            loop.quit();
    });
    watch.start(kWatchMs);
    std::thread worker([&] {
        job(progress);
        progress.Finish();
    });
    // The progress dialog is modal, so the loop delivers paint and desktop events but no other input.
    loop.exec();
    worker.join();
}

} // namespace brimlow
