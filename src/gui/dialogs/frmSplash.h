#pragma once
// The start-up window: shown modally while the program starts, gone after a few seconds, at a
// key press or at a click.

#include <QDialog>

class QFrame;
class QTimer;

namespace korvel {

class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(int closeAfterMs = 4000, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QFrame *m_frame = nullptr;
    QTimer *m_timer = nullptr;
};

} // namespace korvel
