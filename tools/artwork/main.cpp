// Draws Nimbora's own artwork and writes it as PNG files.
//
//   nimbora-artwork <output-directory>
//   nimbora-artwork --icon <size> <file.png>     (the desktop icon at one size, for the build)
//
// Needs no display: falls back to the offscreen platform when
// QT_QPA_PLATFORM is not set.

#include "tools/artwork/brand.h"
#include "tools/artwork/pictures.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTextStream>

#include <cstdio>

namespace {

int usage(QTextStream& err)
{
    err << "usage: nimbora-artwork <output-directory>\n"
           "       nimbora-artwork --icon <size> <file.png>\n"
           "Draws the application's logo, splash, banners and icons as PNG files,\n"
           "or only the application's icon at the given size (16 to 1024 pixels).\n";
    return 2;
}

bool writePng(const QString& path, const QImage& image, QTextStream& err)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        err << "nimbora-artwork: cannot create directory for " << path << "\n";
        return false;
    }
    QImageWriter writer(path, "png");
    // Highest zlib effort: the files are committed, so keep them small.
    writer.setCompression(9);
    if (!writer.write(image)) {
        err << "nimbora-artwork: cannot write " << path << ": " << writer.errorString() << "\n";
        return false;
    }
    return true;
}

// The icon has no lettering: it needs no font.
int writeIcon(const QString& sizeText, const QString& path, QTextStream& err)
{
    bool ok = false;
    const int size = sizeText.toInt(&ok);
    if (!ok || size < 16 || size > 1024 || path.isEmpty())
        return usage(err);
    return writePng(path, applicationIcon(size), err) ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--icon"))
        return writeIcon(args.at(2), args.at(3), err);
    if (args.size() != 2 || args.at(1).isEmpty() || args.at(1).startsWith(QLatin1Char('-')))
        return usage(err);

    QString error;
    if (brand::loadFonts(&error).isEmpty()) {
        err << "nimbora-artwork: " << error << "\n";
        return 1;
    }

    const QDir out(args.at(1));
    if (!QDir().mkpath(out.absolutePath())) {
        err << "nimbora-artwork: cannot create directory " << out.absolutePath() << "\n";
        return 1;
    }

    int written = 0;
    for (const Picture& pic : drawAllPictures()) {
        if (!writePng(out.absoluteFilePath(pic.name), pic.image, err))
            return 1;
        ++written;
    }
    QTextStream(stdout) << "wrote " << written << " pictures to " << out.absolutePath() << "\n";
    return 0;
}
