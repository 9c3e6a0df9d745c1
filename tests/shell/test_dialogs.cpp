// The configuration dialog's storing, the About box's system-information fallback, and when
// the splash goes.
#include "dialogs/frmAbout.h"
#include "dialogs/frmConfigure.h"
#include "dialogs/frmSplash.h"
#include "settings/Settings.h"
#include "app/AppState.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace korvel;
using namespace korvel::test;

namespace {

const QString Section = QStringLiteral("Configuration");

QString stored(const QString &key)
{
    return GetSetting(AppTitle(), Section, key, QStringLiteral("(none)"));
}

QRadioButton *option(QWidget &w, const QString &name)
{
    return w.findChild<QRadioButton *>(name);
}

struct Dialog {
    AppState state;
    RecordingUi ui;
    ScriptedFileChooser files;
    WindowContext context{state, ui, ui, files};
};

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void configureLoadsAndStores_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("portShown");
        QTest::addColumn<int>("speedShown");
        QTest::newRow("first run") << QString() << QString() << 0 << 0;
        QTest::newRow("stored") << "4"
                                << "2" << 4 << 2;
        QTest::newRow("out of range") << "6"
                                      << "3" << 0 << 0;
        QTest::newRow("negative") << "-1"
                                  << "-1" << 0 << 0;
    }
    void configureLoadsAndStores()
    {
        QFETCH(QString, port);
        QFETCH(QString, speed);
        QFETCH(int, portShown);
        QFETCH(int, speedShown);
        IsolatedSettings settings;
        if (!port.isNull()) {
            SaveSetting(AppTitle(), Section, "COMMPORT", port);
            SaveSetting(AppTitle(), Section, "COMMSPEED", speed);
        }
        Dialog d;
        frmConfigure dialog(d.context);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Configure"));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(option(dialog, QStringLiteral("opComm(%1)").arg(i))->isChecked(), i == portShown);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(option(dialog, QStringLiteral("opComRate(%1)").arg(i))->isChecked(), i == speedShown);
        QCOMPARE(dialog.findChild<QLabel *>("lblDefault")->text(), QStringLiteral("notepad.exe"));

        // Ok without a change stores what is shown.
        dialog.findChild<QPushButton *>("cmdOk")->click();
        QCOMPARE(stored("COMMPORT"), QString::number(portShown));
        QCOMPARE(stored("COMMSPEED"), QString::number(speedShown));
    }

    void configureCancelKeepsOnlyThePickedEditor()
    {
        IsolatedSettings settings;
        SaveSetting(AppTitle(), Section, "COMMPORT", "1");
        Dialog d;
        frmConfigure dialog(d.context);
        QCOMPARE(option(dialog, "opComm(5)")->text(), QStringLiteral("Com 6"));
        option(dialog, "opComm(5)")->setChecked(true);
        option(dialog, "opComRate(1)")->setChecked(true);

        // A cancelled chooser stores nothing.
        dialog.findChild<QPushButton *>("cmdSetFileName")->click();
        QCOMPARE(stored("Editor"), QStringLiteral("(none)"));
        QCOMPARE(d.files.requests.size(), 1);
        QCOMPARE(d.files.requests[0].title, QStringLiteral("Choose Editor"));
        QCOMPARE(d.files.requests[0].filter, QStringLiteral("*.exe"));
        QCOMPARE(d.files.requests[0].defaultExtension, QStringLiteral("EXE"));
        QCOMPARE(d.files.requests[0].initialFileName, QStringLiteral("notepad.exe"));

        const QString editor = QStringLiteral("/usr/local/bin/texteditor");
        d.files.answers = {editor};
        dialog.findChild<QPushButton *>("cmdSetFileName")->click();
        QCOMPARE(stored("Editor"), editor);
        QCOMPARE(dialog.findChild<QLabel *>("lblDefault")->text(), QStringLiteral("...\\texteditor"));

        dialog.findChild<QPushButton *>("Command1")->click();
        QCOMPARE(stored("COMMPORT"), QStringLiteral("1"));
        QCOMPARE(stored("COMMSPEED"), QStringLiteral("(none)"));
        QCOMPARE(stored("Editor"), editor);

        // The next load shows the stored editor, shortened.
        frmConfigure again(d.context);
        QCOMPARE(again.findChild<QLabel *>("lblDefault")->text(), QStringLiteral("...\\texteditor"));
        QCOMPARE(d.ui.statuses, QStringList());
    }

    void systemInfoWithoutAToolSaysSo()
    {
        RecordingUi ui;
        frmAbout about(ui);
        about.setSystemInfoTools({QStringLiteral("no-such-system-information-tool")});
        QCOMPARE(about.windowTitle(), QStringLiteral("About Korvel Engine Monitor"));
        QCOMPARE(about.findChild<QLabel *>("lblTitle")->text(), QStringLiteral("Korvel Engine Monitor"));
        QCOMPARE(about.findChild<QLabel *>("lblVersion")->text(), QStringLiteral("Version 3.0.3"));
        about.findChild<QPushButton *>("cmdSysInfo")->click();
        QCOMPARE(ui.messages.size(), 1);
        QCOMPARE(ui.messages[0].caption, QStringLiteral("Korvel Engine Monitor"));
        QCOMPARE(ui.messages[0].text, QStringLiteral("System Information Is Unavailable At This Time"));
        QCOMPARE(ui.messages[0].icon, MessageIcon::None);
        QCOMPARE(ui.messages[0].buttons, MessageButtons::Ok);
    }

    void aboutAnswersEnterAndEscape()
    {
        RecordingUi ui;
        for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
            frmAbout about(ui);
            about.show();
            QVERIFY(QTest::qWaitForWindowExposed(&about));
            QTest::keyClick(&about, Qt::Key(key));
            QVERIFY(!about.isVisible());
        }
    }

    void splashClosesOnTimerKeyOrClick()
    {
        {
            frmSplash splash(50);
            QCOMPARE(splash.findChild<QLabel *>("lblVersion")->text(), QStringLiteral("Rev 3.0.3"));
            QCOMPARE(splash.findChild<QLabel *>("lblPlatform")->text(), QStringLiteral("Any Win32"));
            QCOMPARE(splash.findChild<QLabel *>("lblProductName")->text(), QStringLiteral("Korvel Engine Monitor"));
            QSignalSpy done(&splash, &QDialog::finished);
            splash.show();
            QVERIFY(done.wait(5000));
        }
        for (const char *target : {"key", "Frame1", "lblProductName", "lblLicenseTo"}) {
            frmSplash splash(600000);
            splash.show();
            QVERIFY(QTest::qWaitForWindowExposed(&splash));
            if (QByteArray(target) == "key")
                QTest::keyClick(&splash, Qt::Key_Space);
            else
                QTest::mouseClick(splash.findChild<QWidget *>(target), Qt::LeftButton, {}, QPoint(5, 5));
            QVERIFY2(!splash.isVisible(), target);
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
