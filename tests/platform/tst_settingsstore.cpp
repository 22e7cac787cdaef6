// The real settings store, in Qt's test mode: values go to a settings file of their own under
// the test folder, never into the user's.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include "platform/settingsstore.h"

using namespace pictarre;

namespace {

const QString kApp = QStringLiteral("Quillmark");
const QString kSection = QStringLiteral("mypic");
const QString kKey = QStringLiteral("filepath");

// Where the store keeps an application's values, in test mode.
QString settingsFile(const QString& application)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + application + QLatin1Char('/') + application + QStringLiteral(".conf");
}

}  // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Before the first settings object: the store's folder is fixed then.
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(settingsFile(kApp).contains(QStringLiteral("/.qttest/")));
    }

    void init()
    {
        QFile::remove(settingsFile(kApp));
        QFile::remove(settingsFile(QStringLiteral("Other")));
    }

    void cleanupTestCase() { init(); }

    void writtenValuesReadBackInANewStore()
    {
        const QString folder = QStringLiteral("/home/用户/照片 2024/旅行");
        {
            QtSettingsStore store;
            QCOMPARE(store.read(kApp, kSection, kKey), QString());  // nothing stored yet
            store.write(kApp, kSection, kKey, folder);
            QCOMPARE(store.read(kApp, kSection, kKey), folder);
        }
        // On disk at once, under its application, section and key, for the next run.
        QVERIFY(QFile::exists(settingsFile(kApp)));
        QFile file(settingsFile(kApp));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("[mypic]") && text.contains("filepath="), text.constData());
        QtSettingsStore later;
        QCOMPARE(later.read(kApp, kSection, kKey), folder);

        // A later write replaces the value; the root folder keeps its separator.
        later.write(kApp, kSection, kKey, QStringLiteral("/"));
        QCOMPARE(QtSettingsStore().read(kApp, kSection, kKey), QStringLiteral("/"));
    }

    void applicationsSectionsAndKeysAreKeptApart()
    {
        QtSettingsStore store;
        store.write(kApp, kSection, kKey, QStringLiteral("/a"));
        store.write(kApp, kSection, QStringLiteral("other"), QStringLiteral("/b"));
        store.write(kApp, QStringLiteral("elsewhere"), kKey, QStringLiteral("/c"));
        store.write(QStringLiteral("Other"), kSection, kKey, QStringLiteral("/d"));
        QCOMPARE(store.read(kApp, kSection, kKey), QStringLiteral("/a"));
        QCOMPARE(store.read(kApp, kSection, QStringLiteral("other")), QStringLiteral("/b"));
        QCOMPARE(store.read(kApp, QStringLiteral("elsewhere"), kKey), QStringLiteral("/c"));
        QCOMPARE(store.read(QStringLiteral("Other"), kSection, kKey), QStringLiteral("/d"));
        QVERIFY(QFile::exists(settingsFile(QStringLiteral("Other"))));
        // An empty value reads as no value.
        store.write(kApp, kSection, kKey, QString());
        QCOMPARE(store.read(kApp, kSection, kKey), QString());
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "tst_settingsstore.moc"
