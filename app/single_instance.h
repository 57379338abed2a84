#pragma once
// One console per desktop: the first console listens on a per-user local socket; a second one asks it to come
// to the front and ends without touching any file.
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>

namespace brimlow {

class SingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    // settingsFile tells desktops apart: consoles with separate settings locations may run side by side.
    explicit SingleInstanceGuard(const QString& settingsFile, QObject* parent = nullptr);

    // True when this is the first console; false after the running one was asked to come to the front.
    bool Acquire();
    void OnRaiseRequest(std::function<void()> raise) { m_raise = std::move(raise); }
    QString ServerName() const { return m_name; }

private:
    QString m_name;
    QLocalServer m_server;
    std::function<void()> m_raise;
};

} // namespace brimlow
