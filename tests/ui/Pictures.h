#pragma once

#include <QString>
#include <QWidget>
#include <QtTest>

// With QZ_PICTURES set to a folder, a window as it stands is drawn there, at 1280x720 less
// a title bar, for the manual's pictures; without it, nothing happens.
inline void picture(QWidget& window, const QString& name)
{
    const QByteArray folder = qgetenv("QZ_PICTURES");
    if (folder.isEmpty())
        return;
    window.resize(1280, 680);
    QTest::qWait(100);
    window.grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + name + QStringLiteral(".png"));
}
