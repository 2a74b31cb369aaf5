#ifndef NIMBORA_UI_OPTIONS_H
#define NIMBORA_UI_OPTIONS_H

#include <QDialog>
#include <QList>
#include <QSettings>

class QAction;
class QActionGroup;
class QVariant;

namespace Ui {
class Options;
}

// The user's options on four pages. The store is read at every opening and written only on OK;
// the language switches live while its box changes, and Cancel switches it back.
class Options : public QDialog
{
    Q_OBJECT

public:
    enum Page { GeneralPage = 0, ConnectionPage = 1, StealthPage = 2, NetworkPage = 3 };

    explicit Options(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Options() override;

    void setPage(int index);

#ifndef Q_OS_WIN
    // The Exec line of the autostart entry that starts the program at the given path.
    static QString autostartExec(const QString &programPath);
#endif

public slots:
    int exec() override;
    void open() override;
    void accept() override;
    void reject() override;

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

    // Seams for tests: the machine's locale, and the modal list of static redirections
    // (returns the dialog's result).
    virtual QString systemLocaleName() const;
    virtual int execExceptions();

private slots:
    void on_defaultPushButton_clicked();
    void on_generalLanguageComboBox_currentIndexChanged(int index);
    void on_stealthPredefinedUserAgentsComboBox_currentIndexChanged(int index);
    void on_stealthUserAgentLineEdit_textChanged(const QString &text);
    void on_networkExceptionsPushButton_clicked();
    void actionGroupTriggered(QAction *action);

private:
    enum Source { FromStore, FromDefaults };

    void addPageActions();
    void addToolBar();
    void retranslatePageActions();
    void fitToContents();
    void load(Source source);
    void loadLanguage(Source source);
    void loadProxyMode(const QString &mode);
    void selectIpMethod(const QString &method);
    void save();
    void removeStoredOptions();
    QString proxyMode() const;

    // Per platform: controls that only one platform has, and starting with the computer.
    void applyPlatformLayout();
    void savePlatformOptions();
    void saveLaunchAtStartup(bool launch);

    Ui::Options *m_ui;
    QSettings m_settings;
    QActionGroup *m_actionGroup;
    QList<QAction *> m_pageActions;
    int m_loadedLanguageIndex = -1;
    bool m_defaultsChosen = false;
    bool m_exceptionsEditedSinceDefaults = false;
    QString m_customUserAgent;
};

#endif
