// Draws Nimbora's own artwork and writes it as PNG files.
//
//   nimbora-artwork <output-directory>
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
           "Draws the application's logo, splash, banners and icons as PNG files.\n";
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    const QStringList args = app.arguments();
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
        const QString path = out.absoluteFilePath(pic.name);
        if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
            err << "nimbora-artwork: cannot create directory for " << path << "\n";
            return 1;
        }
        QImageWriter writer(path, "png");
        // Highest zlib effort: the files are committed, so keep them small.
        writer.setCompression(9);
        if (!writer.write(pic.image)) {
            err << "nimbora-artwork: cannot write " << path << ": " << writer.errorString() << "\n";
            return 1;
        }
        ++written;
    }
    QTextStream(stdout) << "wrote " << written << " pictures to " << out.absolutePath() << "\n";
    return 0;
}
