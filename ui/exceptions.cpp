#include "ui/exceptions.h"

#include "base/settingskeys.h"
#include "ui/exceptionstablemodel.h"
#include "ui_exceptions.h"

#include <QEvent>
#include <QMessageBox>

#include <algorithm>

namespace {

constexpr int DescriptionColumn = 0;
constexpr int DestinationColumn = 1;

QString withoutSpaces(const QString &text, int *cursor)
{
    QString kept;
    kept.reserve(text.size());
    const int oldCursor = *cursor;
    for (int i = 0; i < text.size(); ++i) {
        if (!text.at(i).isSpace())
            kept.append(text.at(i));
        else if (i < oldCursor)
            --*cursor;
    }
    return kept;
}

} // namespace

Exceptions::Exceptions(QWidget *parent)
    : QDialog(parent), m_ui(new Ui::Exceptions), m_model(new ExceptionsTableModel(this))
{
    m_ui->setupUi(this);
    m_ui->removePushButton->setEnabled(false);
    load();

    m_ui->exceptionsTableView->setModel(m_model);
    m_mapper.setModel(m_model);
    m_mapper.addMapping(m_ui->descriptionLineEdit, DescriptionColumn);
    m_mapper.addMapping(m_ui->destinationLineEdit, DestinationColumn);
    connect(m_ui->exceptionsTableView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        &Exceptions::currentRowChanged);

    // Sized with the edit fields shown, so that showing them later moves nothing.
    setFixedSize(minimumSizeHint());
    m_ui->editFrame->hide();
}

Exceptions::~Exceptions()
{
    delete m_ui;
}

void Exceptions::accept()
{
    m_mapper.submit();
    if (hasInvalidRedirection()) {
        QMessageBox box(QMessageBox::Information, tr("Redirection invalide"),
            tr("Une redirection doit avoir une destination valide."), QMessageBox::Ok, this);
        execMessageBox(&box);
        return;
    }
    save();
    QDialog::accept();
}

QAbstractButton *Exceptions::execMessageBox(QMessageBox *box)
{
    box->exec();
    return box->clickedButton();
}

void Exceptions::currentRowChanged(const QModelIndex &current, const QModelIndex &)
{
    m_mapper.submit();
    if (current.isValid()) {
        m_ui->removePushButton->setEnabled(true);
        m_ui->editFrame->show();
        m_mapper.setCurrentModelIndex(current);
    } else {
        m_ui->removePushButton->setEnabled(false);
        m_ui->editFrame->hide();
    }
}

// A host name has no spaces: whatever is typed or pasted loses them, the cursor staying where it was.
void Exceptions::on_destinationLineEdit_textEdited(const QString &text)
{
    int cursor = m_ui->destinationLineEdit->cursorPosition();
    const QString kept = withoutSpaces(text, &cursor);
    if (kept.size() == text.size())
        return;
    m_ui->destinationLineEdit->setText(kept);
    m_ui->destinationLineEdit->setCursorPosition(cursor);
}

void Exceptions::on_addPushButton_clicked()
{
    const int row = m_model->rowCount();
    m_model->insertRows(row, 1);
    m_ui->exceptionsTableView->setCurrentIndex(m_model->index(row, DescriptionColumn));
    m_ui->descriptionLineEdit->setFocus();
}

// Only the rows the user selected go, wherever they are in the list; with none selected, the
// current one.
void Exceptions::on_removePushButton_clicked()
{
    QItemSelectionModel *selection = m_ui->exceptionsTableView->selectionModel();
    QList<int> rows;
    const QModelIndexList selected = selection->selectedIndexes();
    for (const QModelIndex &index : selected) {
        if (!rows.contains(index.row()))
            rows.append(index.row());
    }
    if (rows.isEmpty() && selection->currentIndex().isValid())
        rows.append(selection->currentIndex().row());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : qAsConst(rows))
        m_model->removeRows(row, 1);

    m_ui->exceptionsTableView->setCurrentIndex(m_model->index(m_model->rowCount() - 1, DescriptionColumn));
}

void Exceptions::load()
{
    QList<QStringList> exceptions;
    m_settings.beginGroup(QLatin1String(SettingsKeys::Exceptions));
    const QStringList keys = SettingsKeys::inNumericOrder(m_settings.childKeys());
    for (const QString &key : keys)
        exceptions.append(m_settings.value(key).toStringList());
    m_settings.endGroup();
    m_model->setExceptions(exceptions);
}

bool Exceptions::hasInvalidRedirection() const
{
    const QList<QStringList> exceptions = m_model->exceptions();
    return std::any_of(exceptions.cbegin(), exceptions.cend(),
        [](const QStringList &exception) { return exception.value(DestinationColumn).isEmpty(); });
}

void Exceptions::save()
{
    const QList<QStringList> exceptions = m_model->exceptions();
    m_settings.remove(QLatin1String(SettingsKeys::Exceptions));
    m_settings.beginGroup(QLatin1String(SettingsKeys::Exceptions));
    for (int i = 0; i < exceptions.size(); ++i)
        m_settings.setValue(QString::number(i), exceptions.at(i));
    m_settings.endGroup();
}

void Exceptions::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
