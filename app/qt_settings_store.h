#pragma once
// The per-user settings store: QSettings in native format under "Quillfen Labs/Brimlow", group "Options".
// Texts are 8-bit bytes and travel as Latin-1 so that every byte survives.
#include "console/settings.h"

#include <QSettings>
#include <QString>

namespace brimlow {

class QtSettingsStore final : public SettingsStore {
public:
    QtSettingsStore();
    int GetInt(const std::string& name, int defaultValue) override;
    std::string GetString(const std::string& name, const std::string& defaultValue) override;
    void SetInt(const std::string& name, int value) override;
    void SetString(const std::string& name, const std::string& value) override;
    void Flush() override;
    // Where the values live; two consoles with different files are different desktops to each other.
    QString FileName() const { return m_settings.fileName(); }

private:
    static QString Key(const std::string& name);
    QSettings m_settings;
};

} // namespace brimlow
