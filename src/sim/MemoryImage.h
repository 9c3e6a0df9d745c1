#pragma once
// The loader's memory image as a file.

#include <QMap>
#include <QString>

namespace korvel::sim {

// Writes the image as binary, from its lowest to its highest address, gaps filled with 0xFF; the
// file holds no address (lowest gives it). An empty image writes an empty file.
bool SaveMemoryImage(const QMap<quint32, quint8> &image, const QString &path, QString *error = nullptr,
                     quint32 *lowest = nullptr);

} // namespace korvel::sim
