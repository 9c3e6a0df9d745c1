#include <QtTest>
class Testflightdata : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_GUILESS_MAIN(Testflightdata)
#include "test_flightdata.moc"
