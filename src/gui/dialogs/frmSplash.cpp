#include "gui/dialogs/frmSplash.h"

#include "core/ui/UiInterfaces.h"
#include "gui/common/Twips.h"
#include "gui/dialogs/AppVersion.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QSvgWidget>
#include <QTimer>

#include <algorithm>

namespace korvel {

frmSplash::frmSplash(int closeAfterMs, QWidget *parent) : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(AppTitle());
    setFixedSize(sizeHint());
    setModal(true);

    m_frame = new QFrame(this);
    m_frame->setObjectName(QStringLiteral("Frame1"));
    m_frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    // The frame keeps the same margin on the right as on the left, so its border shows all round.
    m_frame->setGeometry(TwipsRect(120, 120, 8040, 3690));
    m_frame->installEventFilter(this);

    auto *logo = new QSvgWidget(QStringLiteral(":/shell/icons/logo.svg"), m_frame);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setGeometry(TwipsRect(240, 240, 2400, 2280));
    logo->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto addLabel = [this](const char *name, const QString &text, const QRect &place, qreal points, bool bold) {
        auto *label = new QLabel(text, m_frame);
        label->setObjectName(QLatin1String(name));
        label->setGeometry(place);
        label->setTextFormat(Qt::PlainText);
        QFont font(QStringLiteral("Arial"));
        font.setPointSizeF(points);
        font.setBold(bold);
        label->setFont(font);
        // A text wider than its designed place grows to the right instead of being cut.
        label->resize(std::max(place.width(), label->sizeHint().width()), place.height());
        label->installEventFilter(this);
        return label;
    };
    addLabel("lblProductName", AppTitle(), TwipsRect(3600, 240, 3960, 420), 18, true);
    addLabel("lblCompanyProduct", QStringLiteral("Brismont Inc."), TwipsRect(4200, 720, 3375, 285), 12, true);
    addLabel("lblPlatform", QStringLiteral("Any Win32"), TwipsRect(3720, 1200, 1935, 360), 15.75, true);
    addLabel("lblVersion", QStringLiteral("Rev ") + AppVersionText(), TwipsRect(3720, 1560, 885, 285), 12, true);
    QLabel *license = addLabel("lblLicenseTo",
                               QStringLiteral("This program and its manual are protected by copyright law.\n"
                                              "Copyright \u00a9 2026 Brismont Inc. All rights reserved.\n"
                                              "https://brismont.example"),
                               TwipsRect(120, 2640, 7815, 915), 8.25, false);
    license->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setSingleShot(true);
    m_timer->setInterval(closeAfterMs);
    connect(m_timer, &QTimer::timeout, this, &QDialog::accept);
}

QSize frmSplash::sizeHint() const
{
    return TwipsSize(8280, 3855);
}

void frmSplash::showEvent(QShowEvent *event)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect place = rect();
        place.moveCenter(screen->availableGeometry().center());
        move(place.topLeft());
    }
    m_timer->start();
    QDialog::showEvent(event);
}

void frmSplash::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    accept();
}

bool frmSplash::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace korvel
