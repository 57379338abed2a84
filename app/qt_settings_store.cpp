#include "app/qt_settings_store.h"

namespace brimlow {

QtSettingsStore::QtSettingsStore() : m_settings(QSettings::NativeFormat, QSettings::UserScope, "Quillfen Labs", "Brimlow") {}

QString QtSettingsStore::Key(const std::string& name) { return "Options/" + QString::fromLatin1(name); }

int QtSettingsStore::GetInt(const std::string& name, int defaultValue) {
    bool ok = false;
    int value = m_settings.value(Key(name), defaultValue).toInt(&ok);
    return ok ? value : defaultValue;
}

std::string QtSettingsStore::GetString(const std::string& name, const std::string& defaultValue) {
    QVariant value = m_settings.value(Key(name));
    if (!value.isValid())
        return defaultValue;
    return value.toString().toLatin1().toStdString();
}

void QtSettingsStore::SetInt(const std::string& name, int value) { m_settings.setValue(Key(name), value); }

void QtSettingsStore::SetString(const std::string& name, const std::string& value) {
    m_settings.setValue(Key(name), QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())));
}

void QtSettingsStore::Flush() { m_settings.sync(); }

} // namespace brimlow
