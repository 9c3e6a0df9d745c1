#include "gui/dialogs/frmAbout.h"

#include "gui/common/Controls.h"
#include "gui/common/Twips.h"
#include "gui/dialogs/AppVersion.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStyle>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QSvgWidget>

namespace korvel {

namespace {

#ifdef Q_OS_WIN
// A registry text value under the local machine root; a missing key or value gives "".
QString MachineRegistryValue(const QString &key, const QString &value)
{
    QSettings registry(QStringLiteral("HKEY_LOCAL_MACHINE\\") + key, QSettings::NativeFormat);
    const QVariant stored = registry.value(value);
    if (!stored.isValid())
        return {};
    QString text = stored.toString();
    if (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}
#endif

QStringList DefaultSystemInfoTools()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return {};
#else
    return {QStringLiteral("hardinfo2"),           QStringLiteral("hardinfo"),
            QStringLiteral("kinfocenter"),         QStringLiteral("gnome-system-monitor"),
            QStringLiteral("mate-system-monitor"), QStringLiteral("xfce4-taskmanager")};
#endif
}

} // namespace

int CaptionMargin(const QPushButton *button)
{
    const QStyle *style = button->style();
    return (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button)
            + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button)) / 2
           + 3;
}

// The buttons keep their designed size; a caption too wide for one with a margin on both sides
// is set in a smaller font.
void FitCaption(QPushButton *button)
{
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    const int room = button->width() - 2 * CaptionMargin(button);
    QFont font = button->font();
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(caption) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    button->setFont(font);
}

frmAbout::frmAbout(Prompter &prompter, QWidget *owner)
    : QDialog(owner), m_prompter(prompter), m_systemInfoTools(DefaultSystemInfoTools())
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + AppTitle());
    setFixedSize(sizeHint());

    auto *logo = new QSvgWidget(QStringLiteral(":/shell/icons/logo.svg"), this);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setGeometry(TwipsRect(240, 240, 3000, 3000));

    QLabel *title = AddLabel(this, QStringLiteral("lblTitle"), AppTitle(), TwipsRect(3720, 120, 3885, 480));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    AddLabel(this, QStringLiteral("lblVersion"), QStringLiteral("Version ") + AppVersionText(),
             TwipsRect(3720, 600, 3885, 225));
    AddLabel(this, QStringLiteral("lblProductName"), QStringLiteral("Korvel Flash Program"),
             TwipsRect(3720, 960, 3960, 420));
    AddLabel(this, QStringLiteral("lblCompanyProduct"), QStringLiteral("Brismont Inc."),
             TwipsRect(4320, 1440, 3375, 285));
    QLabel *description =
        AddLabel(this, QStringLiteral("lblDescription"),
                 QStringLiteral("Downloads the flights your engine monitor recorded, draws them as graphs, and "
                                "reprograms the instrument's firmware over its serial line."),
                 TwipsRect(3600, 2040, 4245, 1170));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *sysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    sysInfo->setGeometry(TwipsRect(5160, 3480, 1245, 345));
    sysInfo->setAutoDefault(false);
    connect(sysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(TwipsRect(6600, 3480, 1260, 345));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    FitCaption(sysInfo);
    FitCaption(ok);
    // Esc closes through the dialog's reject, Enter through the default button.
    ok->setFocus();
}

QSize frmAbout::sizeHint() const
{
    return TwipsSize(8145, 4065);
}

void frmAbout::showEvent(QShowEvent *event)
{
    // Centred on the window that opened it.
    if (QWidget *owner = parentWidget()) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->window()->frameGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    if (!startSystemInfo())
        m_prompter.showMessage(AppTitle(), QStringLiteral("System Information Is Unavailable At This Time"),
                               MessageIcon::None, MessageButtons::Ok);
}

bool frmAbout::startSystemInfo()
{
#ifdef Q_OS_WIN
    const QString path =
        MachineRegistryValue(QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"), QStringLiteral("PATH"));
    if (!path.isEmpty())
        return QProcess::startDetached(path, {});
    const QString folder =
        MachineRegistryValue(QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"), QStringLiteral("MSINFO"));
    if (!folder.isEmpty()) {
        const QString program = folder + QStringLiteral("\\MSINFO32.EXE");
        if (QFileInfo::exists(program))
            return QProcess::startDetached(program, {});
    }
#elif defined(Q_OS_MACOS)
    if (QFileInfo::exists(QStringLiteral("/System/Applications/Utilities/System Information.app")))
        return QProcess::startDetached(QStringLiteral("open"),
                                       {QStringLiteral("-a"), QStringLiteral("System Information")});
#endif
    for (const QString &tool : std::as_const(m_systemInfoTools)) {
        const QString program = QStandardPaths::findExecutable(tool);
        if (!program.isEmpty() && QProcess::startDetached(program, {}))
            return true;
    }
    return false;
}

} // namespace korvel
