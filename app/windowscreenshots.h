#ifndef NIMBORA_APP_WINDOWSCREENSHOTS_H
#define NIMBORA_APP_WINDOWSCREENSHOTS_H

#include <QDir>
#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

// Saves a picture of every window the program shows into a folder: the demo's record of what
// a user would have seen, also when it runs without a display. The folder's "windows.txt"
// tells, in order, which windows were shown ("<picture file> <window title>") and which were
// closed ("closed <picture file>"), for tests and the demo to read.
class WindowScreenshots : public QObject
{
    Q_OBJECT

public:
    static constexpr char IndexFileName[] = "windows.txt";

    explicit WindowScreenshots(const QString &directory, QObject *parent = nullptr);

    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    // A picture of every window on screen now, one per tab for a window with tabs.
    void takePictures();

private:
    void save(const QPointer<QWidget> &window);
    void appendToIndex(const QString &line);
    QString nextFileName(const QString &name);

    QDir m_directory;
    int m_count = 0;
    QHash<const QObject *, QString> m_pending; // picture file of each shown window not pictured yet
    QHash<const QObject *, QString> m_files; // picture file of each window since it was shown
};

#endif
