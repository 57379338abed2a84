#include "ui/modal_job.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <thread>

namespace brimlow {
namespace {

constexpr int kShowAfterMs = 300; // a job that ends sooner never flashes a dialog

class DialogProgress final : public JobProgress {
public:
    explicit DialogProgress(QProgressDialog* dialog) : m_dialog(dialog) {}
    void Report(const QString& text, int done, int total) override {
        QPointer<QProgressDialog> dialog = m_dialog;
        QMetaObject::invokeMethod(
            dialog,
            [dialog, text, done, total] {
                if (!dialog)
                    return;
                dialog->setLabelText(text);
                dialog->setMaximum(total);
                dialog->setValue(total > 0 ? done : 0);
            },
            Qt::QueuedConnection);
    }

private:
    QProgressDialog* m_dialog;
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
    DialogProgress progress(&dialog);
    std::thread worker([&] {
        job(progress);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The progress dialog is modal, so the loop delivers paint and desktop events but no other input.
    loop.exec();
    worker.join();
}

} // namespace brimlow
