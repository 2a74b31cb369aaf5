#include "app/windowscreenshots.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace {
// Long enough for the window to lay itself out and paint once.
constexpr int PaintDelay = 500;
}

WindowScreenshots::WindowScreenshots(const QString &directory, QObject *parent)
    : QObject(parent), m_directory(directory)
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
                QString name = widget->objectName();
                if (name.isEmpty())
                    name = QString::fromLatin1(widget->metaObject()->className());
                const QString fileName = nextFileName(name);
                m_pending.insert(widget, fileName);
                m_files.insert(widget, fileName);
                QString title = widget->windowTitle();
                title.replace(QLatin1Char('\n'), QLatin1Char(' '));
                appendToIndex(fileName + QLatin1Char(' ') + title);
                QTimer::singleShot(PaintDelay, this, [this, window] { save(window); });
            } else if (m_files.contains(widget)) {
                // A window that closes before its picture was taken, such as the launcher
                // after quick checks, is pictured as it leaves.
                save(window);
                appendToIndex(QStringLiteral("closed ") + m_files.take(widget));
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

QString WindowScreenshots::nextFileName(const QString &name)
{
    return QStringLiteral("%1-%2.png").arg(++m_count, 2, 10, QLatin1Char('0')).arg(name);
}

void WindowScreenshots::takePictures()
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (!window->isVisible())
            continue;
        QString name = window->objectName();
        if (name.isEmpty())
            name = QString::fromLatin1(window->metaObject()->className());
        QString title = window->windowTitle();
        title.replace(QLatin1Char('\n'), QLatin1Char(' '));
        auto *tabs = window->findChild<QTabWidget *>();
        const int pages = tabs ? tabs->count() : 1;
        const int shownPage = tabs ? tabs->currentIndex() : 0;
        for (int page = 0; page < pages; ++page) {
            QString caption = title;
            QString pictureName = name;
            if (tabs) {
                tabs->setCurrentIndex(page);
                caption += QStringLiteral(" (") + tabs->tabText(page).remove(QLatin1Char('&')) + QLatin1Char(')');
                pictureName += QLatin1Char('-') + tabs->widget(page)->objectName();
            }
            const QString fileName = nextFileName(pictureName);
            if (window->grab().save(m_directory.filePath(fileName)))
                appendToIndex(fileName + QLatin1Char(' ') + caption);
            else
                qWarning("Cannot save %s", qPrintable(fileName));
        }
        if (tabs)
            tabs->setCurrentIndex(shownPage);
    }
}

void WindowScreenshots::save(const QPointer<QWidget> &window)
{
    if (!window || !window->isVisible() || !m_pending.contains(window.data()))
        return;
    const QString fileName = m_directory.filePath(m_pending.take(window.data()));
    if (window->grab().save(fileName))
        qInfo("Saved %s", qPrintable(fileName));
    else
        qWarning("Cannot save %s", qPrintable(fileName));
}

void WindowScreenshots::appendToIndex(const QString &line)
{
    QFile index(m_directory.filePath(QLatin1String(IndexFileName)));
    if (index.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        index.write((line + QLatin1Char('\n')).toUtf8());
}
