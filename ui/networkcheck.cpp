#include "ui/networkcheck.h"

#include "base/settingskeys.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpacerItem>
#include <QTextEdit>
#include <QVBoxLayout>

NetworkCheck::NetworkCheck(QWidget *parent) : QDialog(parent)
{
    buildWidgets();
    QMetaObject::connectSlotsByName(this);
    // The work waits for the owner's answer, as it does for any main-server request.
    connect(&m_work, &NetworkCheckWork::proxyAuthenticationRequired, this, &NetworkCheck::proxyAuthenticationRequired,
        Qt::BlockingQueuedConnection);
    connect(&m_work, &NetworkCheckWork::log, this, &NetworkCheck::log);
    connect(&m_work, &QThread::finished, this, &NetworkCheck::finished);
}

// Only reached while the work runs when the program goes away under the dialog. A credentials
// question already queued to us would hold the work for ever: drop it, the request then fails.
NetworkCheck::~NetworkCheck()
{
    disconnect(&m_work, nullptr, this, nullptr);
    m_work.requestInterruption();
    while (!m_work.wait(100))
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}

void NetworkCheck::buildWidgets()
{
    setWindowTitle(tr("Diagnostique de connexion"));
    resize(800, 450);

    m_verticalLayout = new QVBoxLayout(this);
    m_verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    m_textEdit = new QTextEdit(this);
    m_textEdit->setObjectName(QStringLiteral("textEdit"));
    m_textEdit->setReadOnly(true);
    m_textEdit->setLineWrapMode(QTextEdit::NoWrap);
    m_verticalLayout->addWidget(m_textEdit);

    m_horizontalLayout = new QHBoxLayout();
    m_horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    m_cancelPushButton = new QPushButton(tr("Annuler"), this);
    m_cancelPushButton->setObjectName(QStringLiteral("cancelPushButton"));
    m_horizontalLayout->addWidget(m_cancelPushButton);

    m_mainPushButton = new QPushButton(tr("Lancer le diagnostique"), this);
    m_mainPushButton->setObjectName(QStringLiteral("mainPushButton"));
    m_mainPushButton->setDefault(true);
    m_horizontalLayout->addWidget(m_mainPushButton);

    m_verticalLayout->addLayout(m_horizontalLayout);
}

void NetworkCheck::on_cancelPushButton_clicked()
{
    close();
}

void NetworkCheck::on_mainPushButton_clicked()
{
    switch (m_state) {
    case Ready:
        start();
        break;
    case Found:
        m_keep = true;
        close();
        break;
    default:
        close();
        break;
    }
}

void NetworkCheck::start()
{
    if (m_work.isRunning())
        return;
    m_cancelPushButton->hide();
    m_mainPushButton->setEnabled(false);
    m_mainPushButton->setText(tr("Patientez..."));

    QSettings settings;
    m_savedMainServerAddress
        = settings.value(SettingsKeys::MainServerAddress, SettingsKeys::defaultMainServerAddress()).toString();
    m_savedMainServerSecure
        = settings.value(SettingsKeys::MainServerSecure, SettingsKeys::MainServerSecureDefault).toBool();
    m_savedProxy = settings.value(SettingsKeys::Proxy, SettingsKeys::ProxyDefault).toString();
    m_saved = true;

    m_work.start();
}

void NetworkCheck::log(const QString &text, NetworkCheckWork::LogLevel level)
{
    QTextCursor cursor = m_textEdit->textCursor();
    cursor.movePosition(QTextCursor::End);
    switch (level) {
    case NetworkCheckWork::Success:
        cursor.insertHtml(QStringLiteral("<span style=\"color: green\">") + text + QStringLiteral("</span>"));
        break;
    case NetworkCheckWork::Failure:
        cursor.insertHtml(QStringLiteral("<span style=\"color: red\">") + text + QStringLiteral("</span>"));
        break;
    default:
        cursor.insertHtml(text);
        break;
    }
    m_textEdit->setTextCursor(cursor);
    m_textEdit->verticalScrollBar()->setValue(m_textEdit->verticalScrollBar()->maximum());
}

void NetworkCheck::finished()
{
    // finished() is emitted just before the thread counts as stopped; the close must not be refused.
    m_work.wait();
    if (m_work.found()) {
        m_state = Found;
        m_cancelPushButton->show();
        m_mainPushButton->setText(tr("Sauvegarder les modifications"));
        log(QStringLiteral("<br /><br />"), NetworkCheckWork::Normal);
        log(tr("Une configuration a été trouvée, veuillez cliquer sur '%1' pour la mettre en place.")
                .arg(m_mainPushButton->text()),
            NetworkCheckWork::Success);
    } else {
        m_state = NothingFound;
        m_mainPushButton->setText(tr("Quitter"));
        log(QStringLiteral("<br /><br />"), NetworkCheckWork::Normal);
        log(tr("Aucune configuration n'a été trouvée, veuillez contacter le support."), NetworkCheckWork::Failure);
    }
    m_mainPushButton->setEnabled(true);
}

// Escape goes through here, not through closeEvent: it must be refused and restore alike.
void NetworkCheck::reject()
{
    if (m_work.isRunning())
        return;
    restoreUnlessKept();
    QDialog::reject();
}

void NetworkCheck::closeEvent(QCloseEvent *event)
{
    if (m_work.isRunning()) {
        event->ignore();
        return;
    }
    restoreUnlessKept();
    QDialog::closeEvent(event);
}

// Nothing was saved before the first run: writing back then would blank the user's settings.
void NetworkCheck::restoreUnlessKept()
{
    if (m_keep || !m_saved)
        return;
    QSettings settings;
    settings.setValue(SettingsKeys::MainServerAddress, m_savedMainServerAddress);
    settings.setValue(SettingsKeys::MainServerSecure, m_savedMainServerSecure);
    settings.setValue(SettingsKeys::Proxy, m_savedProxy);
}
