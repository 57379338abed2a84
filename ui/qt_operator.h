#pragma once
// The window's operator interface: message boxes through QMessageBox, Result lines into the main window. A call
// from a worker thread waits on the user-interface thread's box, so boxes appear one at a time in their order.
// Tests switch it to scripted mode: nothing is shown, every box is recorded and questions take queued answers.
#include "console/operator_interface.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace brimlow {

class QtOperator final : public QObject, public OperatorInterface {
    Q_OBJECT
public:
    struct ShownMessage {
        MessageIcon icon;
        QString caption;
        QString text;
    };

    // Boxes are centred on the active modal dialog, or on parentWindow when none is open.
    void SetParentWindow(QWidget* parentWindow) { m_parent = parentWindow; }
    void SetResultSink(std::function<void(const QString&)> sink) { m_resultSink = std::move(sink); }

    void ShowMessage(MessageIcon icon, const std::string& caption, const std::string& text) override;
    bool AskYesNo(MessageIcon icon, const std::string& caption, const std::string& text) override;
    void AddResultLine(const std::string& text) override;

    // Test hooks: once scripted, no box is shown; a question with no queued answer is answered No.
    void SetScripted(bool scripted) { m_scripted = scripted; }
    void QueueAnswer(bool yes);
    std::vector<ShownMessage> Shown() const;
    void ClearShown();

private:
    bool Present(MessageIcon icon, const QString& caption, const QString& text, bool question);

    QPointer<QWidget> m_parent;
    std::function<void(const QString&)> m_resultSink;
    bool m_scripted = false;
    mutable std::mutex m_mutex; // the record and the answers, read by tests on any thread
    std::deque<bool> m_answers;
    std::vector<ShownMessage> m_shown;
};

} // namespace brimlow
