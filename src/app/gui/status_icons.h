#pragma once
// Small pictograms for the file statuses, drawn rather than loaded so they
// look the same on every desktop and theme.

#include <QColor>
#include <QIcon>

#include "core/enums.h"

// The pictogram named by symbol(status) (clock, waveform, check mark, …) in `color`.
QIcon statusIcon(FileStatus status, const QColor &color);
