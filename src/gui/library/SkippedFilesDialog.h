#pragma once
// The files the last import left out, each with its reason, in a table that can be read at leisure
// beside the library window.

#include "core/library/FlightLibrary.h"

#include <QDialog>

#include <vector>

namespace korvel {

class SkippedFilesDialog : public QDialog {
public:
    SkippedFilesDialog(const std::vector<ImportResult> &skipped, QWidget *parent);
};

} // namespace korvel
