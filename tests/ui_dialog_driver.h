#pragma once
// Driving the real dialogs in window tests, beside the window's own fixture: buttons by caption, controls by the
// name a screen reader announces, and catching what the desktop is asked to open.
#include "tests/ui_window_fixture.h"

#include <QApplication>
#include <QDesktopServices>
#include <QObject>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <vector>

namespace brimlow::test {

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
