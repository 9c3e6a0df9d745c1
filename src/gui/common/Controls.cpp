#include "gui/common/Controls.h"

#include <QLabel>

namespace korvel {

QLabel *AddLabel(QWidget *parent, const QString &name, const QString &text, const QRect &place)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setTextFormat(Qt::PlainText);
    return label;
}

FileDialogRequest SaveFileRequest(const QString &title, const QString &filter, const QString &defaultExtension,
                                  const QString &initialFileName)
{
    FileDialogRequest request;
    request.title = title;
    request.filter = filter;
    request.defaultExtension = defaultExtension;
    request.initialFileName = initialFileName;
    request.save = true;
    return request;
}

} // namespace korvel
