#ifndef WINDOWSCREENSHOTS_H
#define WINDOWSCREENSHOTS_H

#include <QDir>
#include <QObject>
#include <QPointer>

class QWidget;

// Saves a picture of every window the program shows into a folder: the demo's record of what
// a user would have seen, also when it runs without a display.
class WindowScreenshots : public QObject
{
    Q_OBJECT

public:
    explicit WindowScreenshots(const QString &directory, QObject *parent = nullptr);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void save(const QPointer<QWidget> &window);

    QDir m_directory;
    int m_count = 0;
};

#endif
