#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

#include <string>

class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

namespace qz {

// Gives a control its component name, by which tests and accessibility tools find it.
template <typename Widget>
Widget* named(Widget* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// Tells a screen reader what a control is and, hovered, the user what it does.
template <typename Widget>
Widget* described(Widget* widget, const QString& accessibleName, const QString& toolTip)
{
    widget->setAccessibleName(accessibleName);
    widget->setToolTip(toolTip);
    return widget;
}

// A label that tells what a tool did, in words: wrapped, never read as markup (a module's
// reply may hold anything), selectable for copying, and lines tall at least.
void showsWords(QLabel* label, int lines);

// The windows' font: a sans-serif face with a 12-pixel character height.
QFont windowFont();

// The application's icon, the one the package installs, for every window's title bar.
QIcon applicationIcon();

// Texts cross into and out of the generators as bytes of the local 8-bit encoding.
std::string toBytes(const QString& text);
QString fromBytes(const std::string& bytes);

// Places a top-level window, frame included, in the middle of the desktop it is shown on.
// The frame is the window manager's: until it is known the last one seen stands in, and
// the window is placed again once its own is known.
void centreOnDesktop(QWidget* window);

// Draws a group box's caption a little in from the box's left edge, where the page's
// border would otherwise touch it.
void insetCaption(QGroupBox* box);

// Whether the style leaves room for the button's whole caption inside its frame.
bool captionFits(const QPushButton* button);
// Widens a button whose caption the style would clip, keeping its right edge: the native
// Windows style pads buttons more than the one the layout was drawn with.
void widenToFitCaption(QPushButton* button);

} // namespace qz
