#ifndef NIMBORA_TOOLS_ARTWORK_PICTURES_H
#define NIMBORA_TOOLS_ARTWORK_PICTURES_H

#include <QImage>
#include <QString>
#include <QVector>

struct Picture {
    QString name; // relative path of the PNG, e.g. "servers/public.png"
    QImage image;
};

// Every picture the application ships that is drawn here rather than taken
// from an icon theme.
QVector<Picture> drawAllPictures();

// The application's icon, drawn for a square of `size` pixels (the desktop's icon theme sizes).
QImage applicationIcon(int size);

#endif
