#pragma once
// The real main window over a test console on its own data directory, with its message boxes scripted, and
// the helpers that the window tests share: controls by their accessible names, the list's rows, and answering
// the modal editors the window opens.
#include "tests/support/test_console.h"
#include "ui/main_dlg.h"
#include "ui/qt_operator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace brimlow::test {

struct WindowHarness {
    WindowHarness() : tc(false) {
        op.SetScripted(true);
        tc.console.op = &op;
    }
    ~WindowHarness() { window.reset(); }

    CMainDlg& Open() {
        window = std::make_unique<CMainDlg>(tc.console, op);
        window->show();
        return *window;
    }

    template <typename T = QWidget> T* Find(const QString& accessibleName) const {
        for (T* widget : window->findChildren<T*>())
            if (widget->accessibleName() == accessibleName)
                return widget;
        return nullptr;
    }
    void Click(const QString& name) const { Find<QAbstractButton>(name)->click(); }
    QListWidget* List() const { return Find<QListWidget>("Subscribers"); }
    QStringList Rows() const {
        QStringList rows;
        for (int row = 0; row < List()->count(); ++row)
            rows << List()->item(row)->text();
        return rows;
    }
    void Select(const QStringList& names) const {
        List()->clearSelection();
        for (int row = 0; row < List()->count(); ++row)
            if (names.contains(List()->item(row)->text()))
                List()->item(row)->setSelected(true);
    }
    void Type(const QString& message) const { Find<QPlainTextEdit>("Message")->setPlainText(message); }
    QString Counter(const QString& name) const { return Find<QLineEdit>(name)->text(); }
    void SelectTab(int tab) const { window->findChild<QTabBar*>()->setCurrentIndex(tab); }
    QStringList ShownTexts() const {
        QStringList texts;
        for (const QtOperator::ShownMessage& shown : op.Shown())
            texts << shown.text;
        return texts;
    }

    TestConsole tc;
    QtOperator op;
    std::unique_ptr<CMainDlg> window;
};

// Runs answer on the next modal dialog of type T that the code under test opens with exec() within ten seconds.
template <typename T> void WhenModal(std::function<void(T&)> answer) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(1000);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, tries] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog || --*tries == 0) {
            poll->stop();
            poll->deleteLater();
        }
        if (dialog)
            answer(*dialog);
    });
    poll->start(10);
}

} // namespace brimlow::test
