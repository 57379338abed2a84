#pragma once
// Work that can wait on a socket, a file lock or a serial line runs off the user-interface thread: the operator
// waits behind a modal progress dialog while the window keeps painting and answering the desktop.
#include <QString>
#include <QWidget>
#include <functional>

namespace brimlow {

// Lets the job say what it is doing; callable from the job's thread.
class JobProgress {
public:
    virtual ~JobProgress() = default;
    // text names the step ("Sending to Ann..."); done of total steps, or total 0 when the length is unknown.
    virtual void Report(const QString& text, int done, int total) = 0;
};

// Runs job on a worker thread and returns when it has ended. Meanwhile a modal progress dialog titled `title`
// keeps every other input away; it appears only when the job takes longer than a moment. Message boxes that the
// job shows through the operator interface appear above it, one at a time.
void RunModalJob(QWidget* parent, const QString& title, const std::function<void(JobProgress&)>& job);

} // namespace brimlow
