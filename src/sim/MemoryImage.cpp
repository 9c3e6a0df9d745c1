#include "sim/MemoryImage.h"

#include <QSaveFile>

namespace korvel::sim {

bool SaveMemoryImage(const QMap<quint32, quint8> &image, const QString &path, QString *error, quint32 *lowest)
{
    QByteArray bytes;
    if (!image.isEmpty()) {
        const quint32 from = image.firstKey();
        bytes = QByteArray(qsizetype(image.lastKey() - from) + 1, char(0xFF));
        for (auto it = image.cbegin(); it != image.cend(); ++it)
            bytes[qsizetype(it.key() - from)] = char(it.value());
        if (lowest)
            *lowest = from;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace korvel::sim
