#pragma once

#include <QFont>
#include <QString>

#include <string>

class QWidget;

namespace qz {

// The windows' font: a sans-serif face with a 12-pixel character height.
QFont windowFont();

// Texts cross into and out of the generators as bytes of the local 8-bit encoding.
std::string toBytes(const QString& text);
QString fromBytes(const std::string& bytes);

// Places a top-level window in the middle of the desktop it is on.
void centreOnDesktop(QWidget* window);

} // namespace qz
