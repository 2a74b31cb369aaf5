#include "windowscreenshots.h"

#include <QEvent>
#include <QFile>
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
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Close) && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow()) {
            const QPointer<QWidget> window(widget);
            if (type == QEvent::Show) {
                m_saved.remove(widget);
                QTimer::singleShot(PaintDelay, this, [this, window] { save(window); });
            } else {
                // A window that closes before its picture was taken, such as the launcher
                // after quick checks, is pictured as it leaves.
                save(window);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowScreenshots::save(const QPointer<QWidget> &window)
{
    if (!window || !window->isVisible() || m_saved.contains(window.data()))
        return;
    m_saved.insert(window.data());
    QString name = window->objectName();
    if (name.isEmpty())
        name = QString::fromLatin1(window->metaObject()->className());
    const QString baseName = QStringLiteral("%1-%2.png").arg(++m_count, 2, 10, QLatin1Char('0')).arg(name);
    const QString fileName = m_directory.filePath(baseName);
    if (!window->grab().save(fileName)) {
        qWarning("Cannot save %s", qPrintable(fileName));
        return;
    }
    qInfo("Saved %s", qPrintable(fileName));
    QFile index(m_directory.filePath(QLatin1String(IndexFileName)));
    if (index.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        QString title = window->windowTitle();
        title.replace(QLatin1Char('\n'), QLatin1Char(' '));
        index.write((baseName + QLatin1Char(' ') + title + QLatin1Char('\n')).toUtf8());
    }
}
