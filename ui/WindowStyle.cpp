#include "WindowStyle.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace qz {

QFont windowFont()
{
    // Liberation Sans keeps the widths the layout was drawn for; where it is missing the
    // platform's sans-serif face stands in.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    return font;
}

std::string toBytes(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

QString fromBytes(const std::string& bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<int>(bytes.size()));
}

void centreOnDesktop(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace qz
