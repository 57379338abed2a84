#pragma once
// The window tests' fixture: the real main window, its controls by name, modal dialogs answered, URLs caught.
#include "tests/support/test_console.h"
#include "ui/main_dlg.h"
#include "ui/qt_operator.h"

#include <QApplication>
#include <QCheckBox>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

namespace brimlow::test {

// The control of parent that a screen reader announces as name (a button's is its caption).
template <typename T = QWidget> T* Field(const QWidget& parent, const QString& name) {
    for (T* control : parent.findChildren<T*>())
        if (control->accessibleName() == name)
            return control;
    return nullptr;
}

// The controls of window that take the focus and that a screen reader finds no name for (its own, a button's
// caption or its label's text), by class. A spin box's or combo box's own line edit is announced through its owner.
inline QStringList UnnamedControls(const QWidget& window) {
    QStringList unnamed;
    for (QWidget* control : window.findChildren<QWidget*>()) {
        bool inner = qobject_cast<QAbstractSpinBox*>(control->parentWidget()) ||
                     qobject_cast<QComboBox*>(control->parentWidget());
        if (control->focusPolicy() == Qt::NoFocus || inner || !control->isVisibleTo(&window))
            continue;
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(control);
        if (!reader || reader->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << control->metaObject()->className();
    }
    return unnamed;
}

inline QStringList Rows(const QListWidget& list) {
    QStringList rows;
    for (int row = 0; row < list.count(); ++row)
        rows << list.item(row)->text();
    return rows;
}

// Selects exactly the rows of list whose text is in names.
inline void Select(QListWidget& list, const QStringList& names) {
    for (int row = 0; row < list.count(); ++row)
        list.item(row)->setSelected(names.contains(list.item(row)->text()));
}

// Runs answer on the next modal dialog of type T that the code under test opens with exec() within ten seconds.
template <typename T> void WhenModal(std::function<void(T&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, deadline = QDeadlineTimer(10000)] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog || deadline.hasExpired()) {
            poll->stop();
            poll->deleteLater();
        }
        if (dialog)
            answer(*dialog);
    });
    poll->start(10);
}

// Records the addresses of the given schemes that the desktop is asked to open, instead of opening them.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    explicit UrlCatcher(const QStringList& schemes = {"file"}) : schemes(schemes) {
        for (const QString& scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~UrlCatcher() override {
        for (const QString& scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    const QStringList schemes;
    QStringList opened;

public slots:
    void Open(const QUrl& url) { opened << url.toString(); }
};

struct WindowHarness {
    // With drainStatus, a thread empties the status mailbox in the window's place.
    explicit WindowHarness(bool drainStatus = false) : tc(drainStatus) {
        op.SetScripted(true);
        tc.console.op = &op;
    }
    CMainDlg& Open() {
        window = std::make_unique<CMainDlg>(tc.console, op);
        window->show();
        return *window;
    }
    template <typename T = QWidget> T* Find(const QString& name) const { return Field<T>(*window, name); }
    void Click(const QString& name) const { Find<QAbstractButton>(name)->click(); }
    QListWidget* List() const { return Find<QListWidget>("Subscribers"); }
    QStringList Rows() const { return test::Rows(*List()); }
    void Select(const QStringList& names) const { test::Select(*List(), names); }
    void DoubleClickSelected() const { emit List()->itemDoubleClicked(List()->selectedItems().first()); }
    void Type(const QString& message) const { Find<QPlainTextEdit>("Message")->setPlainText(message); }
    QString Counter(const QString& name) const { return Find<QLineEdit>(name)->text(); }
    void SelectTab(int tab) const { window->findChild<QTabBar*>()->setCurrentIndex(tab); }
    // The message boxes shown since the last call, as "caption: text".
    QStringList TakeShown() {
        QStringList shown;
        for (const QtOperator::ShownMessage& box : op.Shown())
            shown << box.caption + ": " + box.text;
        op.ClearShown();
        return shown;
    }

    TestConsole tc;
    QtOperator op;
    std::unique_ptr<CMainDlg> window; // goes first: its workers use the console and the operator
};

} // namespace brimlow::test
