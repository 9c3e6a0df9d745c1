#include "gui/common/WidgetUi.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace korvel {

MessageAnswer WidgetPrompter::showMessage(const QString &caption, const QString &text, MessageIcon icon,
                                          MessageButtons buttons)
{
    return showMessage(caption, text, icon, buttons, MessageAnswer::Ok);
}

MessageAnswer WidgetPrompter::showMessage(const QString &caption, const QString &text, MessageIcon icon,
                                          MessageButtons buttons, MessageAnswer defaultAnswer)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case MessageIcon::None:
        boxIcon = QMessageBox::NoIcon;
        break;
    case MessageIcon::Critical:
        boxIcon = QMessageBox::Critical;
        break;
    case MessageIcon::Question:
        boxIcon = QMessageBox::Question;
        break;
    case MessageIcon::Exclamation:
        boxIcon = QMessageBox::Warning;
        break;
    case MessageIcon::Information:
        boxIcon = QMessageBox::Information;
        break;
    }
    const auto standard = buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                              : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(boxIcon, caption, text, standard, QApplication::activeWindow());
    box.setDefaultButton(buttons == MessageButtons::OkCancel && defaultAnswer == MessageAnswer::Cancel
                             ? QMessageBox::Cancel
                             : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

std::optional<QString> WidgetFileChooser::chooseFile(const FileDialogRequest &request)
{
    if (request.enterFolder)
        QDir::setCurrent(request.folder);
    QFileDialog dialog(QApplication::activeWindow(), request.title, request.folder);
    if (request.chooseFolder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }
    // A save dialog asks before it replaces a file (Qt's default for it).
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (request.save)
        dialog.setDefaultSuffix(request.defaultExtension); // before the question about replacing
    QStringList filters{request.filter};
#ifndef Q_OS_WIN
    // Programs carry no ".exe" here: let the editor chooser see every file as well.
    if (request.filter.compare(QLatin1String("*.exe"), Qt::CaseInsensitive) == 0)
        filters << QStringLiteral("*");
#endif
    dialog.setNameFilters(filters);
    if (!request.initialFileName.isEmpty()) {
        const QFileInfo initial(request.initialFileName);
        if (initial.isAbsolute())
            dialog.setDirectory(initial.absolutePath());
        // A pattern ("*.txt") stands in the name box as it is.
        dialog.selectFile(initial.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QString name = dialog.selectedFiles().constFirst();
    // The pattern itself names no file: nothing was chosen.
    if (QFileInfo(name).fileName().contains(QLatin1Char('*')) || QFileInfo(name).fileName().contains(QLatin1Char('?')))
        return std::nullopt;
    const QFileInfo chosen(name);
    if (!chosen.exists() && chosen.suffix().isEmpty() && !request.defaultExtension.isEmpty())
        name += QLatin1Char('.') + request.defaultExtension;
    return name;
}

} // namespace korvel
