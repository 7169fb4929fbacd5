// The look the main window's panels share: fonts, fills and the kinds of
// labels they are built from.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace tv {

QFont Bold(QFont font, qreal scale = 1.0);
QFont Scaled(QFont font, qreal scale);
void SetBackground(QWidget* widget, const QColor& color);
void SetTextColor(QWidget* widget, const QColor& color);

// A plain label; `name` becomes its object name.
QLabel* MakeLabel(const QString& text, QWidget* parent, const char* name = nullptr);
// A sunken read-out field for times and file names.
QLabel* Readout(const QString& text, QWidget* parent, const char* name);
// A small black read-out with aqua figures (the peak-hold levels).
QLabel* LedReadout(const QString& text, QWidget* parent, const char* name);
// A caption that acts on a click, as the generator's "Start" and "Stop".
QLabel* ClickLabel(const QString& text, QWidget* parent, const char* name);
// A sunken panel of the control area, named `name`.
void StylePanel(QWidget* panel, const char* name);

}  // namespace tv
