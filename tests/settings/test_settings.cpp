#include <QtTest>
class Testsettings : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_GUILESS_MAIN(Testsettings)
#include "test_settings.moc"
