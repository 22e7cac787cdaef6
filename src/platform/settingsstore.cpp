#include "platform/settingsstore.h"

#include <QSettings>

namespace pictarre {

namespace {

QString settingsKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

}  // namespace

QString QtSettingsStore::read(const QString& application, const QString& section, const QString& key)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, application, application);
    return store.value(settingsKey(section, key)).toString();
}

void QtSettingsStore::write(const QString& application, const QString& section, const QString& key,
                            const QString& value)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, application, application);
    store.setValue(settingsKey(section, key), value);
    store.sync();
}

}  // namespace pictarre
