#include "app/qt_sound.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace brimlow {
namespace {
constexpr int kLongestSoundMs = 10000;
}

void PlayWavToEnd(const std::string& path) {
    const QString file = QString::fromStdString(path);
    if (!QCoreApplication::instance() || !QFile::exists(file) || QMediaDevices::audioOutputs().isEmpty())
        return;
    QSoundEffect effect;
    QEventLoop loop;
    QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&] {
        if (effect.status() == QSoundEffect::Ready)
            effect.play();
        else if (effect.status() == QSoundEffect::Error)
            loop.quit();
    });
    QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&] {
        if (!effect.isPlaying())
            loop.quit();
    });
    QTimer::singleShot(kLongestSoundMs, &loop, &QEventLoop::quit);
    effect.setSource(QUrl::fromLocalFile(file));
    if (effect.status() == QSoundEffect::Error)
        return;
    if (effect.status() == QSoundEffect::Ready)
        effect.play(); // loaded at once: no status change will come
    loop.exec();
}

} // namespace brimlow
