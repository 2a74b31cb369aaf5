#include "windowscreenshots.h"

#include <QEvent>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace {
// Long enough for the window to lay itself out and paint once.
constexpr int PaintDelay = 500;
}

WindowScreenshots::WindowScreenshots(const QString &directory, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
{
    if (!m_directory.mkpath(QStringLiteral(".")))
        qWarning("Cannot create the screenshot folder %s", qPrintable(directory));
}

bool WindowScreenshots::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow()) {
            const QPointer<QWidget> window(widget);
            QTimer::singleShot(PaintDelay, this, [this, window] { save(window); });
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowScreenshots::save(const QPointer<QWidget> &window)
{
    if (!window || !window->isVisible())
        return;
    QString name = window->objectName();
    if (name.isEmpty())
        name = QString::fromLatin1(window->metaObject()->className());
    const QString fileName = m_directory.filePath(
            QStringLiteral("%1-%2.png").arg(++m_count, 2, 10, QLatin1Char('0')).arg(name));
    if (!window->grab().save(fileName))
        qWarning("Cannot save %s", qPrintable(fileName));
    else
        qInfo("Saved %s", qPrintable(fileName));
}
