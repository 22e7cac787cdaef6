#pragma once

#include <QString>

namespace pictarre {

// The per-user settings store: strings under (application, section, key).
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored string, or empty when there is none.
    virtual QString read(const QString& application, const QString& section, const QString& key) = 0;
    virtual void write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;
};

// QSettings in its native format and user scope, one settings file per application.
class QtSettingsStore final : public SettingsStore {
public:
    QString read(const QString& application, const QString& section, const QString& key) override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;
};

}  // namespace pictarre
