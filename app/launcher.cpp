#include "app/launcher.h"

#include "buildconfig.h"
#include "ui/authentication.h"
#include "ui/networkcheck.h"
#include "ui/options.h"
#include "ui/proxyauthentication.h"
#include "ui_launcher.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPushButton>
#include <QUrl>

namespace {

void describeBox(QMessageBox *box, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    box->setIcon(icon);
    box->setWindowTitle(title);
    box->setText(text);
}

} // namespace

Launcher::Launcher()
    : QSplashScreen(QPixmap(QStringLiteral(":/resources/launcher.png")), Qt::WindowStaysOnTopHint),
      m_ui(new Ui::Launcher),
      m_worker(new LauncherWorker)
{
    setObjectName(QStringLiteral("Launcher"));
    m_ui->setupUi(this);

    connect(m_worker, &LauncherWorker::stateChanged, this, &Launcher::launcherWorkerStateChanged);
    connect(m_worker, &LauncherWorker::progressChanged, this, &Launcher::launcherWorkerProgressChanged);
    connect(m_worker, &LauncherWorker::proxyAuthenticationRequired, this,
        &Launcher::launcherWorkerProxyAuthenticationRequired, Qt::BlockingQueuedConnection);
    m_worker->moveToThread(&m_workerThread);
    m_workerThread.start(QThread::InheritPriority);
    QMetaObject::invokeMethod(m_worker, &LauncherWorker::start, Qt::QueuedConnection);
}

Launcher::~Launcher()
{
    m_workerThread.quit();
    m_workerThread.wait();
    delete m_worker;
    delete m_ui;
}

LauncherWorker *Launcher::worker() const
{
    return m_worker;
}

void Launcher::launcherWorkerStateChanged(LauncherWorker::State state)
{
    switch (state) {
    case LauncherWorker::Finished:
        openAuthentication();
        close();
        break;
    case LauncherWorker::Failed:
        showErrorBox(m_worker->error());
        break;
    case LauncherWorker::Idle:
    case LauncherWorker::Running:
        break;
    }
}

void Launcher::launcherWorkerProgressChanged(quint8 progress)
{
    const int frameWidth = m_ui->progressFrame->width();
    m_ui->progressBar->resize(int(frameWidth * progress / 100.0), m_ui->progressFrame->height());
}

void Launcher::launcherWorkerProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    openProxyAuthentication(proxy, authenticator);
}

QAbstractButton *Launcher::execMessageBox(QMessageBox *box)
{
    box->exec();
    return box->clickedButton();
}

void Launcher::openAuthentication()
{
    auto *authentication = new Authentication;
    authentication->setAttribute(Qt::WA_DeleteOnClose);
    authentication->show();
}

void Launcher::openNetworkCheck()
{
    NetworkCheck networkCheck(this);
    connect(&networkCheck, &NetworkCheck::proxyAuthenticationRequired, this,
        &Launcher::launcherWorkerProxyAuthenticationRequired, Qt::DirectConnection);
    networkCheck.exec();
}

void Launcher::openOptions(OptionsPage page)
{
    Options options(this);
    options.setPage(page);
    options.exec();
}

void Launcher::openProxyAuthentication(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    ProxyAuthentication dialog(this);
    dialog.setProxy(proxy);
    dialog.setAuthenticator(authenticator);
    dialog.exec();
}

void Launcher::openDownloadPage()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral(NIMBORA_DOWNLOAD_URL)));
}

void Launcher::quitApplication()
{
    QCoreApplication::quit();
}

void Launcher::runChecksAgain()
{
    QMetaObject::invokeMethod(m_worker, &LauncherWorker::start, Qt::QueuedConnection);
}

void Launcher::showErrorBox(int error)
{
    QMessageBox box(this);
    switch (error) {
    case LauncherWorker::ServerError:
        showServerErrorBox(&box);
        break;
    case LauncherWorker::MandatoryUpdateError:
        showMandatoryUpdateBox(&box);
        break;
    case LauncherWorker::OptionalUpdateError:
        showOptionalUpdateBox(&box);
        break;
    case LauncherWorker::InterfaceInstallError:
        describeBox(&box, QMessageBox::Critical, tr("Impossible d'installer l'interface VPN"),
            tr("L'interface VPN n'a pas pu être installée. Vérifiez d'avoir les droits nécessaires."));
        showRetryOrQuitBox(&box);
        break;
    case LauncherWorker::InterfaceNotFoundError:
        describeBox(&box, QMessageBox::Critical, tr("Impossible de trouver l'interface VPN"),
            tr("L'interface VPN n'a pas pu être trouvée. Veuillez réinstaller Nimbora."));
        showRetryOrQuitBox(&box);
        break;
    default:
        describeBox(&box, QMessageBox::Critical, tr("Erreur inconnue"),
            tr("Une erreur inconnue est survenue, veuillez vérifier votre installation"));
        showRetryOrQuitBox(&box);
        break;
    }
}

void Launcher::showServerErrorBox(QMessageBox *box)
{
    describeBox(box, QMessageBox::Critical, tr("Impossible de contacter le serveur principal"),
        tr("Impossible de contacter le serveur principal. Vérifiez que vous êtes bien connecté à Internet "
           "et que vos paramètres de connexion sont valides."));
    box->addButton(QMessageBox::Cancel);
    QPushButton *diagnostic = box->addButton(tr("Diagnostique de connexion"), QMessageBox::AcceptRole);
    QPushButton *options = box->addButton(tr("Options"), QMessageBox::ActionRole);
    QPushButton *retry = box->addButton(tr("Réessayer"), QMessageBox::ActionRole);

    QAbstractButton *clicked = execMessageBox(box);
    if (clicked == diagnostic) {
        openNetworkCheck();
        runChecksAgain();
    } else if (clicked == options) {
        openOptions(ConnectionPage);
        runChecksAgain();
    } else if (clicked == retry) {
        runChecksAgain();
    } else {
        quitApplication();
    }
}

void Launcher::showMandatoryUpdateBox(QMessageBox *box)
{
    describeBox(box, QMessageBox::Critical, tr("Nouvelle version obligatoire disponible"),
        tr("Une nouvelle version obligatoire est disponible. Pour des raisons de compatibilité avec les "
           "serveurs Nimbora, vous devez télécharger cette nouvelle version pour continuer."));
    box->addButton(QMessageBox::Close);
    QPushButton *download
        = box->addButton(tr("Aller vers la page de téléchargement de Nimbora"), QMessageBox::AcceptRole);

    if (execMessageBox(box) == download)
        openDownloadPage();
    quitApplication();
}

// An optional update never stops the start-up: the checks go on behind the box, and the
// launcher picks up from wherever they stand once the box is closed.
void Launcher::showOptionalUpdateBox(QMessageBox *box)
{
    describeBox(box, QMessageBox::Warning, tr("Nouvelle version disponible"),
        tr("Une nouvelle version est disponible. Cette version n'est pas obligatoire mais conseillée, "
           "elle peut apporter de meilleures performances, une meilleure compatibilité ou de nouvelles "
           "fonctionnalités."));
    QPushButton *download
        = box->addButton(tr("Aller vers la page de téléchargement de Nimbora"), QMessageBox::AcceptRole);
    box->addButton(tr("Plus tard"), QMessageBox::AcceptRole);

    if (execMessageBox(box) == download)
        openDownloadPage();
    continueAfterOptionalUpdate();
}

void Launcher::showRetryOrQuitBox(QMessageBox *box)
{
    box->addButton(QMessageBox::Close);
    QPushButton *retry = box->addButton(tr("Réessayer"), QMessageBox::ActionRole);

    if (execMessageBox(box) == retry)
        runChecksAgain();
    else
        quitApplication();
}

void Launcher::continueAfterOptionalUpdate()
{
    switch (m_worker->state()) {
    case LauncherWorker::Finished:
        // Delivered while the box was open: the login dialog has already taken over.
        break;
    case LauncherWorker::Failed:
        if (m_worker->error() != LauncherWorker::OptionalUpdateError) {
            showErrorBox(m_worker->error());
            break;
        }
        // The checks are still going; a later failure keeps the state Failed and sends no
        // signal, so look again when the run ends.
        waitForWorkerRunEnd();
        break;
    case LauncherWorker::Idle:
    case LauncherWorker::Running:
        waitForWorkerRunEnd();
        break;
    }
}

// Queued behind the current run on the worker's thread, then back on this one: by then every
// state change of that run has been delivered.
void Launcher::waitForWorkerRunEnd()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { QMetaObject::invokeMethod(this, &Launcher::workerRunEnded, Qt::QueuedConnection); },
        Qt::QueuedConnection);
}

void Launcher::workerRunEnded()
{
    if (m_worker->state() == LauncherWorker::Failed && m_worker->error() != LauncherWorker::OptionalUpdateError)
        showErrorBox(m_worker->error());
}

void Launcher::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
    QSplashScreen::changeEvent(event);
}
