#include "gui/dialogs/frmConfigure.h"

#include "core/serial/ComPorts.h"
#include "core/settings/Settings.h"
#include "gui/common/ShortPath.h"
#include "gui/common/Twips.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QMdiSubWindow>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

// Selects the option a stored choice names; a choice that names none selects the first.
template <int N> void SelectStored(QRadioButton *const (&options)[N], int n)
{
    options[n >= 0 && n < N ? n : 0]->setChecked(true);
}

// Where a frame's contents may start: below its title and the border drawn beside it, as this
// style draws them.
int FrameContentsTop(QGroupBox *frame)
{
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = frame->alignment();
    return frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, frame).top();
}

// Moves a frame's options down until the title and the border clear them, and makes the frame
// that much taller. Returns how far they moved.
template <int N> int ClearFrameTitle(QGroupBox *frame, QRadioButton *const (&options)[N])
{
    int top = options[0]->y();
    for (QRadioButton *option : options)
        top = std::min(top, option->y());
    const int shift = std::max(0, FrameContentsTop(frame) + 1 - top);
    for (QRadioButton *option : options)
        option->move(option->x(), option->y() + shift);
    frame->resize(frame->width(), frame->height() + shift);
    return shift;
}

} // namespace

frmConfigure::frmConfigure(WindowContext context, QWidget *parent) : ChildWindow(parent), m_context(context)
{
    setObjectName(QStringLiteral("frmConfigure"));
    setWindowTitle(QStringLiteral("Configure"));
    setMinimumSize(sizeHint());
    // The places are drawn for a small dialog font; a larger one would cut the captions.
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8);
    setFont(small);

    auto *frameComm = new QGroupBox(QStringLiteral("Com Port"), this);
    frameComm->setObjectName(QStringLiteral("frameComm"));
    frameComm->setGeometry(TwipsRect(60, 60, 2055, 1215));
    struct Place {
        int left, top;
    };
    // Two columns: 1, 2, 5 on the left, 3, 4, 6 on the right.
    static const Place commPlaces[6] = {{120, 240}, {120, 480}, {1080, 240}, {1080, 480}, {120, 780}, {1080, 750}};
    auto *commGroup = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        auto *option = new QRadioButton(QStringLiteral("Com %1").arg(i + 1), frameComm);
        option->setObjectName(QStringLiteral("opComm(%1)").arg(i));
        option->setGeometry(TwipsRect(commPlaces[i].left, commPlaces[i].top, 795, 315));
        option->setToolTip(ResolveComPort(i + 1));
        commGroup->addButton(option, i);
        m_opComm[i] = option;
    }

    auto *frameComSpeed = new QGroupBox(QStringLiteral("Com Rate"), this);
    frameComSpeed->setObjectName(QStringLiteral("frameComSpeed"));
    frameComSpeed->setGeometry(TwipsRect(30, 1380, 2055, 855));
    static const Place ratePlaces[3] = {{150, 210}, {120, 480}, {1020, 210}};
    static const char *const rates[3] = {"19200", "38400", "115200"};
    auto *rateGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        auto *option = new QRadioButton(QString::fromLatin1(rates[i]), frameComSpeed);
        option->setObjectName(QStringLiteral("opComRate(%1)").arg(i));
        option->setGeometry(TwipsRect(ratePlaces[i].left, ratePlaces[i].top, 855, 255));
        rateGroup->addButton(option, i);
        m_opComRate[i] = option;
    }
    m_opComm[0]->setChecked(true);
    m_opComRate[0]->setChecked(true);

    // The designed places assume a title that takes no room; with this style's, the contents and
    // everything below them move down as far as the titles need.
    const int commShift = ClearFrameTitle(frameComm, m_opComm);
    frameComSpeed->move(frameComSpeed->x(), frameComSpeed->y() + commShift);
    m_extraHeight = commShift + ClearFrameTitle(frameComSpeed, m_opComRate);

    auto *lblDefaultEditor = new QLabel(QStringLiteral("Default Editor:"), this);
    lblDefaultEditor->setObjectName(QStringLiteral("lblDefaultEditor"));
    lblDefaultEditor->setGeometry(TwipsRect(60, 2310, 1095, 255));

    m_lblDefault = new QLabel(this);
    m_lblDefault->setObjectName(QStringLiteral("lblDefault"));
    m_lblDefault->setGeometry(TwipsRect(120, 2550, 1575, 315));
    m_lblDefault->setTextFormat(Qt::PlainText);

    auto *cmdSetFileName = new QPushButton(QStringLiteral("..."), this);
    cmdSetFileName->setObjectName(QStringLiteral("cmdSetFileName"));
    cmdSetFileName->setGeometry(TwipsRect(1740, 2550, 375, 315));
    connect(cmdSetFileName, &QPushButton::clicked, this, &frmConfigure::cmdSetFileName_Click);

    auto *cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setGeometry(TwipsRect(60, 2970, 975, 375));
    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, &frmConfigure::cmdOk_Click);

    auto *cancel = new QPushButton(QStringLiteral("C&ancel"), this);
    cancel->setObjectName(QStringLiteral("Command1"));
    cancel->setGeometry(TwipsRect(1140, 2970, 975, 375));
    connect(cancel, &QPushButton::clicked, this, &frmConfigure::Command1_Click);

    // Enter answers "&Ok" and Esc "C&ancel", as in a dialog box.
    for (QKeySequence key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, cmdOk, &QPushButton::click);
    }
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, cancel, &QPushButton::click);

    for (QWidget *below :
         {static_cast<QWidget *>(lblDefaultEditor), static_cast<QWidget *>(m_lblDefault),
          static_cast<QWidget *>(cmdSetFileName), static_cast<QWidget *>(cmdOk), static_cast<QWidget *>(cancel)})
        below->move(below->x(), below->y() + m_extraHeight);
    // A dialog of fixed size: no resizing, no maximising. The frame around it in the main window
    // keeps that size too, whether its edge is dragged or the work area is tiled.
    setFixedSize(sizeHint());
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parent)) {
        frame->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        if (frame->layout())
            frame->layout()->setSizeConstraint(QLayout::SetFixedSize);
    }

    // Load.
    m_lblDefault->setText(ShortPathText(Editor()));
    SelectStored(m_opComm, CommPortChoice());
    SelectStored(m_opComRate, int(std::nearbyint(std::clamp(CommSpeedChoice(), -1e9, 1e9))));
}

QSize frmConfigure::sizeHint() const
{
    return TwipsSize(2310, 3525) + QSize(0, m_extraHeight);
}

void frmConfigure::cmdOk_Click()
{
    for (int i = 0; i < 6; ++i) {
        if (m_opComm[i]->isChecked())
            SetCommPortChoice(i);
        if (i < 3 && m_opComRate[i]->isChecked())
            SetCommSpeedChoice(i);
    }
    closeWindow();
}

void frmConfigure::Command1_Click()
{
    closeWindow();
}

// The editor is kept as soon as it is picked, whatever the dialog's answer later.
void frmConfigure::cmdSetFileName_Click()
{
    try {
        FileDialogRequest request;
        request.title = QStringLiteral("Choose Editor");
        request.filter = QStringLiteral("*.exe");
        request.defaultExtension = QStringLiteral("EXE");
        request.initialFileName = Editor();
        const std::optional<QString> name = m_context.files.chooseFile(request);
        if (!name)
            return;
        SetEditor(*name);
        m_lblDefault->setText(ShortPathText(*name));
    } catch (...) {
    }
}

} // namespace korvel
