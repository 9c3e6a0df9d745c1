#include "gui/flash/frmFlash.h"
#include "core/flight/CountText.h"

#include "core/settings/Settings.h"
#include "gui/common/Controls.h"
#include "gui/common/ShortPath.h"
#include "gui/common/Twips.h"
#include "gui/dialogs/frmAbout.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QUrl>

#include <string>

namespace korvel {

namespace {

const QString ProgramPattern = QStringLiteral("*.S19");

QPushButton *AddButton(QWidget *parent, const QString &name, const QString &text, const QRect &place)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

// A straight line between two points given in twips of the window. The widget covers just the
// line's box, lets clicks through, and carries its ends as "from" and "to" (twips).
class LineShape : public QWidget {
public:
    LineShape(QWidget *parent, const QString &name, QPoint from, QPoint to) : QWidget(parent), m_from(from), m_to(to)
    {
        setObjectName(name);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setProperty("from", from);
        setProperty("to", to);
        const QPoint a(Twips(from.x()), Twips(from.y()));
        const QPoint b(Twips(to.x()), Twips(to.y()));
        setGeometry(QRect(a, b).normalized().adjusted(0, 0, 1, 1));
        m_a = a - pos();
        m_b = b - pos();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
        painter.drawLine(QPointF(m_a) + QPointF(0.5, 0.5), QPointF(m_b) + QPointF(0.5, 0.5));
    }

private:
    QPoint m_from, m_to, m_a, m_b;
};

// The frame's title bar and bottom border: what the outer height adds to the client's.
int FrameHeightExtra(QWidget *frame)
{
    QStyleOptionTitleBar options;
    options.initFrom(frame);
    const int titleBar = frame->style()->pixelMetric(QStyle::PM_TitleBarHeight, &options, frame);
    const int border = frame->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, frame);
    return titleBar + border;
}

QString MinutesSeconds(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

bool StartDetachedEditor(const EditorCommand &command, QString *reason)
{
    QProcess process;
    process.setProgram(command.editor);
#ifdef Q_OS_WIN
    // The system splits the command line itself, exactly as it was built.
    std::wstring line = command.commandLine().toStdWString();
    process.setCreateProcessArgumentsModifier([&line](QProcess::CreateProcessArguments *args) {
        args->applicationName = nullptr;
        args->arguments = line.data();
    });
#else
    process.setArguments(command.options + QStringList{command.file});
#endif
    if (process.startDetached())
        return true;
    if (reason)
        *reason = process.errorString();
    return false;
}

bool OpenWithDesktop(const QUrl &file)
{
    return QDesktopServices::openUrl(file);
}

frmFlash::frmFlash(WindowContext context, QWidget *parent, std::unique_ptr<SerialLine> line)
    : ChildWindow(parent), m_context(context), m_line(line ? std::move(line) : std::make_unique<SerialPortLine>())
{
    setObjectName(QStringLiteral("frmFlash"));
    setWindowTitle(AppTitle());
    // The places are drawn for a small dialog font; a larger one would cut the captions.
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8);
    setFont(small);

    m_cmdUploadSProg = AddButton(this, QStringLiteral("cmdUploadSProg"), QStringLiteral("&Burn Program"),
                                 TwipsRect(390, 360, 1455, 375));
    connect(m_cmdUploadSProg, &QPushButton::clicked, this, &frmFlash::cmdUploadSProg_Click);

    m_lblFileName0 =
        AddLabel(this, QStringLiteral("lblFileName(0)"), QStringLiteral("fileName"), TwipsRect(2160, 330, 2235, 315));
    m_lblStep2 = AddLabel(this, QStringLiteral("lblStep(2)"), QStringLiteral("Choose Program to Burn into flash."),
                          TwipsRect(390, 1110, 1455, 615));
    m_lblStep2->setWordWrap(true);
    m_lblStep2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblFileName2 =
        AddLabel(this, QStringLiteral("lblFileName(2)"), QStringLiteral("fileName"), TwipsRect(2070, 1140, 2235, 315));

    QPushButton *cmdSetFileName2 =
        AddButton(this, QStringLiteral("cmdSetFileName(2)"), QStringLiteral("..."), TwipsRect(4380, 1170, 375, 315));
    connect(cmdSetFileName2, &QPushButton::clicked, this, [this] { cmdSetFileName_Click(2); });
    QPushButton *cmdEdit =
        AddButton(this, QStringLiteral("cmdEditSToBurn"), QStringLiteral("Edit"), TwipsRect(2100, 1590, 675, 315));
    connect(cmdEdit, &QPushButton::clicked, this, &frmFlash::cmdEditSToBurn_Click);

    m_shpDone1 = new QFrame(this);
    m_shpDone1->setObjectName(QStringLiteral("shpDone(1)"));
    m_shpDone1->setGeometry(TwipsRect(390, 2070, 1455, 375));
    m_shpDone1->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_shpDone1->setAutoFillBackground(true);
    QPalette outline = m_shpDone1->palette();
    outline.setColor(QPalette::WindowText, Qt::black);
    m_shpDone1->setPalette(outline);
    setIndicator(Indicator::Red);
    // Made after the indicator, so drawn over it.
    m_lblFlashDone =
        AddLabel(this, QStringLiteral("lblFlashDone"), QStringLiteral("Not Done"), TwipsRect(450, 2130, 1335, 255));
    QPalette onFill = m_lblFlashDone->palette();
    onFill.setColor(QPalette::WindowText, Qt::black);
    m_lblFlashDone->setPalette(onFill);

    // Two downward arrows: burn button to step label, step label to done indicator.
    struct Arrow {
        int index, top;
    };
    for (const Arrow arrow : {Arrow{4, 750}, Arrow{0, 1710}}) {
        const int tip = arrow.top + 360;
        const int strokes = arrow.top + 180;
        new LineShape(this, QStringLiteral("Line4(%1)").arg(arrow.index), {1110, arrow.top}, {1110, tip});
        new LineShape(this, QStringLiteral("Line5(%1)").arg(arrow.index), {990, strokes}, {1110, tip});
        new LineShape(this, QStringLiteral("Line6(%1)").arg(arrow.index), {1230, strokes}, {1110, tip});
    }

    m_progMain = new QProgressBar(this);
    m_progMain->setObjectName(QStringLiteral("progMain"));
    m_progMain->setRange(0, 100);
    m_progMain->setValue(0);
    m_progMain->setTextVisible(false);
    m_progMain->setGeometry(TwipsRect(0, 4245, 7455, 330));

    // Records sent, speed and time left while a list goes out; empty otherwise.
    m_lblRate = AddLabel(this, QStringLiteral("lblRate"), QString(), TwipsRect(390, 3930, 5400, 255));
    m_lblRate->hide();

    m_fileMenu = new QMenu(QStringLiteral("&File"), this);
    m_fileMenu->setObjectName(QStringLiteral("mnu_main_file"));
    m_fileMenu->menuAction()->setObjectName(QStringLiteral("mnu_main_file"));
    QAction *configure = m_fileMenu->addAction(QStringLiteral("&Configure..."));
    configure->setObjectName(QStringLiteral("mnu_File(0)"));
    connect(configure, &QAction::triggered, this, [this] { mnu_File_Click(0); });
    QAction *separator = m_fileMenu->addSeparator();
    // Element 3 is the "-" item, which the menu draws as a line: a caption on a separator would be
    // drawn beside the line by some styles.
    separator->setObjectName(QStringLiteral("mnu_File(3)"));
    QAction *exit = m_fileMenu->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnu_File(4)"));
    connect(exit, &QAction::triggered, this, [this] { mnu_File_Click(4); });

    // "&About" is a command on the menu bar itself: a menu without items, which the main window's
    // bar shows as a command that triggers the menu's own action.
    m_aboutMenu = new QMenu(QStringLiteral("&About"), this);
    m_aboutMenu->setObjectName(QStringLiteral("mnu_About"));
    m_aboutMenu->menuAction()->setObjectName(QStringLiteral("mnu_About"));
    connect(m_aboutMenu->menuAction(), &QAction::triggered, this, &frmFlash::mnu_About_Click);

    m_link = std::make_unique<TargetLink>(*m_line, context.status, context.prompter, *this, [this] {
        return m_context.state.FlashWindowClosed.value_or(false);
    });
    m_burn = std::make_unique<FlashBurn>(*m_link, *this, context.prompter, *this);
    connect(m_line.get(), &SerialLine::lineError, this, &frmFlash::commMain_OnComm);
    // Arrivals belong to a wait of the link while one is on the stack; otherwise they are dropped.
    connect(m_line.get(), &SerialLine::dataArrived, this, [this] {
        if (!m_link->waiting())
            m_line->read();
    });
    connect(m_link.get(), &TargetLink::recordEchoed, this, &frmFlash::showRate);
    connect(m_link.get(), &TargetLink::countdown, this, &frmFlash::showCountdown);
    connect(m_burn.get(), &FlashBurn::runningChanged, this, [this](bool running) {
        m_cmdUploadSProg->setEnabled(!running);
        m_lblRate->clear();
        m_lblRate->hide();
    });

    load();
}

// The final release: the port is closed and the window counts as closed once more.
frmFlash::~frmFlash()
{
    m_context.state.FlashWindowClosed = true;
    closePort();
    // The link and the burn go before the line: nothing the line says now reaches them.
    m_line->disconnect(this);
}

void frmFlash::load()
{
    // The outer width is narrower than the designed client area; the height keeps that area.
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
        frame->resize(Twips(6585), Twips(4575) + FrameHeightExtra(frame));
    else
        resize(Twips(6585), Twips(4575));

    // Re-created after a close by something that only needs the port: the labels stay as drawn.
    if (m_context.state.FlashWindowClosed.value_or(false))
        return;
    m_lblFileName0->setText(QStringLiteral("init.B"));
    QString shown = ShortPathText(LastFlashProgram());
    if (shown == ProgramPattern)
        shown = QStringLiteral("ostrel.s19");
    m_lblFileName2->setText(shown);
}

QList<QMenu *> frmFlash::windowMenus() const
{
    return {m_fileMenu, m_aboutMenu};
}

void frmFlash::setStep(const QString &text)
{
    m_lblStep2->setText(text);
}

void frmFlash::setDone(const QString &text)
{
    m_lblFlashDone->setText(text);
}

void frmFlash::setIndicator(Indicator colour)
{
    QPalette fill = m_shpDone1->palette();
    fill.setColor(QPalette::Window, colour == Indicator::Green ? QColor(0, 255, 0) : QColor(255, 0, 0));
    m_shpDone1->setPalette(fill);
}

void frmFlash::setProgress(int percent)
{
    m_progMain->setValue(percent);
}

void frmFlash::showRate(int sent, int total, qint64 bytes, qint64 elapsedMs)
{
    if (sent >= total || sent <= 0) {
        m_lblRate->clear();
        m_lblRate->hide();
        return;
    }
    QString text = QStringLiteral("Record %1 of %2").arg(CountText(sent), CountText(total));
    if (elapsedMs > 0) {
        text += QStringLiteral(", %1 bytes/s").arg(CountText(bytes * 1000 / elapsedMs));
        text += QStringLiteral(", %1 left").arg(MinutesSeconds(elapsedMs * (total - sent) / sent));
    }
    m_lblRate->setText(text);
    m_lblRate->show();
}

// A long wait shows what it waits for and the seconds left in the rate line; the next record's
// rate takes its place.
void frmFlash::showCountdown(const QString &text)
{
    m_lblRate->setText(text);
    m_lblRate->setVisible(!text.isEmpty());
}

void frmFlash::cmdUploadSProg_Click()
{
    if (m_burn->running())
        return;
    m_burn->run();
    // Closed during the burn: the close it held back happens now that nothing waits any more.
    if (m_closePending) {
        m_closePending = false;
        closeWindow();
    }
}

void frmFlash::cmdSetFileName_Click(int)
{
    try {
        FileDialogRequest request;
        request.title = QStringLiteral("Load S-Record");
        request.filter = ProgramPattern;
        request.defaultExtension = QStringLiteral("S19");
        request.initialFileName = LastFlashProgram();
        // Before any choice the dialog opens where the example program and init.B are.
        request.folder = QCoreApplication::applicationDirPath();
        const std::optional<QString> name = m_context.files.chooseFile(request);
        if (!name)
            return;
        SetLastFlashProgram(*name);
        m_lblFileName2->setText(ShortPathText(*name));
    } catch (...) {
    }
}

void frmFlash::cmdEditSToBurn_Click()
{
    const EditorCommand command{Editor(), LastFlashProgram(),
                                {}};
    QString reason;
    if (m_startProgram(command, &reason))
        return;
    // The stored editor cannot run here (the default notepad.exe outside Windows): the user's own
    // editor, then the desktop's program for the file, which must exist for that.
    for (const char *variable : {"VISUAL", "EDITOR"}) {
        QStringList words = QProcess::splitCommand(qEnvironmentVariable(variable));
        if (words.isEmpty())
            continue;
        const QString editor = words.takeFirst();
        if (m_startProgram({editor, command.file, words}, nullptr))
            return;
    }
    const QFileInfo file(command.file);
    if (file.isFile() && m_openFile(QUrl::fromLocalFile(file.absoluteFilePath())))
        return;
    m_context.prompter.showMessage(AppTitle(),
                                   QStringLiteral("Could not start the editor: ") + command.commandLine() +
                                       QStringLiteral("\r\n") + reason +
                                       QStringLiteral("\r\nChoose the editor under File > Configure..."),
                                   MessageIcon::Exclamation, MessageButtons::Ok);
}

void frmFlash::commMain_OnComm(int event)
{
    // A connection attempt provokes line noise of its own: nothing is reported while it runs.
    if (m_link->IsConnecting)
        return;
    const QString text = LineEventText(event);
    if (text.isEmpty())
        return;
    m_context.prompter.showMessage(AppTitle(), text, MessageIcon::None, MessageButtons::Ok);
}

void frmFlash::mnu_File_Click(int index)
{
    switch (index) {
    case 0:
        emit configureRequested();
        break;
    case 4:
        // The port and this window only: a capture running in its own window keeps its file.
        closePort();
        closeWindow();
        break;
    default:
        break;
    }
}

void frmFlash::mnu_About_Click()
{
    frmAbout about(m_context.prompter, this);
    about.exec();
}

void frmFlash::closePort()
{
    if (m_line->isOpen())
        m_line->close();
}

// The close is never refused. While a burn runs, its wait is on the stack and the window must
// outlive it: the wait is told to end, the window hides, and it closes for real when the burn
// has returned.
void frmFlash::closeEvent(QCloseEvent *event)
{
    m_context.status.setStatus(QStringLiteral("Unconnected"));
    m_context.state.FlashWindowClosed = true;
    closePort();
    if (m_burn->running()) {
        m_closePending = true;
        m_link->windowClosed();
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
            frame->hide();
        else
            hide();
        event->ignore();
        return;
    }
    event->accept();
}

void frmFlash::showEvent(QShowEvent *event)
{
    // Shown again before a held-back close went through: the window stays.
    m_closePending = false;
    ChildWindow::showEvent(event);
}

// The controls keep their places; the progress bar spans the client's width.
void frmFlash::resizeEvent(QResizeEvent *event)
{
    ChildWindow::resizeEvent(event);
    m_progMain->setGeometry(0, Twips(4245), width(), Twips(330));
}

} // namespace korvel
