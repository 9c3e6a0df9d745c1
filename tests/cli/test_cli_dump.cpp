#include <QtTest>
class Testcli_dump : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_GUILESS_MAIN(Testcli_dump)
#include "test_cli_dump.moc"
