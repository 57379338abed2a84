#pragma once
// Driving the real dialogs in window tests: a console whose message boxes are recorded, acting on a modal dialog
// that the code under test opens with exec(), and catching what the desktop is asked to open.
#include "tests/support/test_console.h"
#include "ui/qt_operator.h"

#include <QApplication>
#include <QDesktopServices>
#include <QObject>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

namespace brimlow::test {

// A console on a fresh data directory; its message boxes are recorded and questions take queued answers.
struct DialogConsole {
    DialogConsole() {
        op.SetScripted(true);
        tc.console.op = &op;
    }
    QtOperator op; // outlives the console's workers
    TestConsole tc{false};
};

// Runs act on the next modal dialog of type D as soon as it shows; exec() in the code under test returns once act
// closed it. A dialog that does not show within five seconds is waited for no longer, so it cannot be met by a
// later test.
template <typename D> void WhenShown(std::function<void(D&)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act, polls = 0]() mutable {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!dialog && ++polls < 1000)
            return;
        timer->stop();
        timer->deleteLater();
        if (dialog)
            act(*dialog);
    });
    timer->start();
}

// The push button whose caption reads caption, mnemonic marker ignored.
inline QPushButton* Button(QWidget& parent, const QString& caption) {
    for (QPushButton* button : parent.findChildren<QPushButton*>())
        if (button->text().remove('&') == caption)
            return button;
    return nullptr;
}

// The control a screen reader announces as name.
template <typename T = QWidget> T* Field(QWidget& parent, const QString& name) {
    for (T* control : parent.findChildren<T*>())
        if (control->accessibleName() == name)
            return control;
    return nullptr;
}

// Records the file URLs the desktop is asked to open instead of opening them.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }
    std::vector<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

} // namespace brimlow::test
