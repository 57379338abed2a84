#include "ui/qt_operator.h"

#include "ui/text_fields.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <future>

namespace brimlow {
namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void QtOperator::ShowMessage(MessageIcon icon, const std::string& caption, const std::string& text) {
    Present(icon, FromLatin1(caption), FromLatin1(text), false);
}

bool QtOperator::AskYesNo(MessageIcon icon, const std::string& caption, const std::string& text) {
    return Present(icon, FromLatin1(caption), FromLatin1(text), true);
}

void QtOperator::AddResultLine(const std::string& text) {
    QString line = FromLatin1(text);
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, line] { AddResultLine(ToLatin1(line)); }, Qt::QueuedConnection);
        return;
    }
    if (m_resultSink)
        m_resultSink(line);
}

bool QtOperator::Present(MessageIcon icon, const QString& caption, const QString& text, bool question) {
    if (QThread::currentThread() != thread()) {
        // The answer comes back through a promise rather than Qt's blocking call, so the hand-over is one that
        // ThreadSanitizer can see.
        std::promise<bool> answer;
        QMetaObject::invokeMethod(
            this, [&] { answer.set_value(Present(icon, caption, text, question)); }, Qt::QueuedConnection);
        return answer.get_future().get();
    }
    if (m_scripted) {
        std::lock_guard lock(m_mutex);
        m_shown.push_back({icon, caption, text});
        if (!question || m_answers.empty())
            return false;
        bool yes = m_answers.front();
        m_answers.pop_front();
        return yes;
    }
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = m_parent;
    QMessageBox box(BoxIcon(icon), caption, text, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    parent);
    if (question)
        box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtOperator::QueueAnswer(bool yes) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(yes);
}

std::vector<QtOperator::ShownMessage> QtOperator::Shown() const {
    std::lock_guard lock(m_mutex);
    return m_shown;
}

void QtOperator::ClearShown() {
    std::lock_guard lock(m_mutex);
    m_shown.clear();
}

} // namespace brimlow
