#ifndef WINDOWSCREENSHOTS_H
#define WINDOWSCREENSHOTS_H

#include <QDir>
#include <QObject>
#include <QPointer>
#include <QSet>

class QWidget;

// Saves a picture of every window the program shows into a folder: the demo's record of what
// a user would have seen, also when it runs without a display. The folder's "windows.txt"
// lists each picture with the window's title, one line each, for tests to read.
class WindowScreenshots : public QObject
{
    Q_OBJECT

public:
    static constexpr char IndexFileName[] = "windows.txt";

    explicit WindowScreenshots(const QString &directory, QObject *parent = nullptr);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void save(const QPointer<QWidget> &window);

    QDir m_directory;
    int m_count = 0;
    QSet<const QObject *> m_saved; // windows pictured since they were last shown
};

#endif
