// The configuration dialog's storing, the About box's system-information fallback, and when
// the splash goes.
#include "core/settings/Settings.h"
#include "gui/dialogs/frmAbout.h"
#include "gui/dialogs/frmConfigure.h"
#include "gui/dialogs/frmSplash.h"
#include "support/TestSupport.h"
#include "support/WindowSupport.h"

#include "gui/common/Twips.h"
#include "gui/common/WidgetUi.h"

#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>
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
        Front d;
        frmConfigure dialog(d.context());
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
        Front d;
        frmConfigure dialog(d.context());
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
        QCOMPARE(dialog.findChild<QLabel *>("lblDefault")->text(),
                 QDir::toNativeSeparators(QStringLiteral(".../texteditor")));

        dialog.findChild<QPushButton *>("Command1")->click();
        QCOMPARE(stored("COMMPORT"), QStringLiteral("1"));
        QCOMPARE(stored("COMMSPEED"), QStringLiteral("(none)"));
        QCOMPARE(stored("Editor"), editor);

        // The next load shows the stored editor, shortened.
        frmConfigure again(d.context());
        QCOMPARE(again.findChild<QLabel *>("lblDefault")->text(),
                 QDir::toNativeSeparators(QStringLiteral(".../texteditor")));
        QCOMPARE(d.ui.statuses, QStringList());
    }

    void systemInfoWithoutAToolSaysSo()
    {
        // Windows' own fonts fit the About dialog's fixed buttons; the stand-in fonts the tests have
        // under Wine are wider.
        if (test::UnderWine())
            QSKIP("the tests' fonts under Wine are not Windows' own");
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

    // The frames' titles and borders clear their options; the captions clear their buttons' edges.
    void framesAndCaptionsLeaveRoom()
    {
        Front d;
        frmConfigure dialog(d.context());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        for (const char *frameName : {"frameComm", "frameComSpeed"}) {
            auto *frame = dialog.findChild<QGroupBox *>(frameName);
            QStyleOptionGroupBox option;
            option.initFrom(frame);
            option.text = frame->title();
            option.lineWidth = 1;
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const QRect contents =
                frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, frame);
            for (QRadioButton *button : frame->findChildren<QRadioButton *>()) {
                QVERIFY2(button->y() > contents.top(), qPrintable(button->text()));
                QVERIFY2(contents.contains(button->geometry()), qPrintable(button->text()));
            }
        }
        // Nothing below the frames overlaps them.
        const QRect rate = dialog.findChild<QGroupBox *>("frameComSpeed")->geometry();
        QVERIFY(!rate.intersects(dialog.findChild<QGroupBox *>("frameComm")->geometry()));
        QVERIFY(dialog.findChild<QWidget *>("lblDefaultEditor")->y() >= rate.bottom());
        QVERIFY(dialog.rect().contains(dialog.findChild<QWidget *>("Command1")->geometry()));

        // The About dialog's fixed buttons hold their captions in Windows' fonts, not in the stand-ins
        // Wine has.
        if (test::UnderWine())
            return;
        RecordingUi ui;
        frmAbout about(ui);
        for (const char *name : {"cmdSysInfo", "cmdOK"}) {
            auto *button = about.findChild<QPushButton *>(name);
            const int caption = QFontMetrics(button->font()).horizontalAdvance(button->text().remove('&'));
            QVERIFY2(caption + 2 * CaptionMargin(button) <= button->width(),
                     qPrintable(QStringLiteral("%1: caption %2, margin %3, width %4 (%5)")
                                    .arg(QLatin1String(name))
                                    .arg(caption)
                                    .arg(CaptionMargin(button))
                                    .arg(button->width())
                                    .arg(button->font().toString())));
            QVERIFY(CaptionMargin(button) >= 3);
        }
        QCOMPARE(about.findChild<QPushButton *>("cmdSysInfo")->size(), TwipsSize(1245, 345));
    }

    // Enter answers a box with its default button: OK unless the question names Cancel.
    void messageBoxesAnswerEnterWithTheirDefault()
    {
        WidgetPrompter prompter;
        struct Case {
            MessageButtons buttons;
            std::optional<MessageAnswer> named;
            MessageAnswer enter;
        };
        for (const Case &c : {Case{MessageButtons::OkCancel, std::nullopt, MessageAnswer::Ok},
                              Case{MessageButtons::OkCancel, MessageAnswer::Cancel, MessageAnswer::Cancel},
                              Case{MessageButtons::OkCancel, MessageAnswer::Ok, MessageAnswer::Ok},
                              Case{MessageButtons::Ok, MessageAnswer::Cancel, MessageAnswer::Ok}}) {
            QString shown;
            QTimer::singleShot(0, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box);
                shown = box->windowTitle() + '|' + box->text() + '|' + box->defaultButton()->text();
                QTest::keyClick(box, Qt::Key_Return);
            });
            const QString text = QStringLiteral("Press OK to burn it anyway, Cancel to stop.");
            const MessageAnswer answer =
                c.named ? prompter.showMessage(AppTitle(), text, MessageIcon::Exclamation, c.buttons, *c.named)
                        : prompter.showMessage(AppTitle(), text, MessageIcon::Exclamation, c.buttons);
            QCOMPARE(answer, c.enter);
            QCOMPARE(shown.section('|', 0, 1), AppTitle() + '|' + text);
            QCOMPARE(shown.section('|', 2).remove('&'), c.enter == MessageAnswer::Ok ? "OK" : "Cancel");
        }
    }

    // The program's file dialog: a pattern stands in the name box; a save dialog asks before it
    // replaces a file.
    void fileDialogsAsTheUserSeesThem()
    {
        WidgetFileChooser chooser;
        for (const bool save : {false, true}) {
            FileDialogRequest request = ProgramFolderTextFile(QStringLiteral("Load Flight Data"), QStringLiteral("*.txt"));
            request.save = save;
            QString nameBox;
            QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
            bool confirms = false;
            QTimer::singleShot(0, [&] {
                auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                nameBox = dialog->findChild<QLineEdit *>("fileNameEdit")->text();
                mode = dialog->acceptMode();
                confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
                dialog->reject();
            });
            QCOMPARE(chooser.chooseFile(request), std::nullopt);
            QCOMPARE(nameBox, QStringLiteral("*.txt"));
            QCOMPARE(mode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            QVERIFY(confirms);
        }
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
