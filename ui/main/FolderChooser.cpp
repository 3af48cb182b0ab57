#include "FolderChooser.h"

#include <utility>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace pixquill {

FolderChooser::FolderChooser(QWidget* owner, const QString& title, Callback callback)
    : QDialog(owner)
    , m_callback(std::move(callback))
{
    setWindowTitle(title);
    setModal(true);
    resize(380, 440);

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setRootPath(QStringLiteral("/"));

    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->setModel(m_model);
    // The invisible root stays the view's root, so "/" itself is a row that
    // can be highlighted and chosen.
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->setHeaderHidden(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setSortingEnabled(true);
    m_tree->sortByColumn(0, Qt::AscendingOrder);
    m_tree->setExpanded(m_model->index(QStringLiteral("/")), true);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &FolderChooser::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &FolderChooser::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statusLine);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_buttons);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnCurrentChanged(current); });
    connect(m_model, &QFileSystemModel::directoryLoaded, this, &FolderChooser::OnDirectoryLoaded);
}

void FolderChooser::SetStatusText(const QString& text)
{
    m_statusLine->setText(text);
}

void FolderChooser::EnableOK(bool enabled)
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(enabled);
}

void FolderChooser::SetSelection(const QString& path)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    if (!QFileInfo(absolute).isDir())
        return;
    // The model builds the rows on the way to a named path at once (hidden
    // ones included), before the worker has read those folders; the rest of
    // each folder arrives later through directoryLoaded.
    const QModelIndex index = m_model->index(absolute);
    if (!index.isValid())
        return;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        m_tree->setExpanded(parent, true);
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_pendingScroll = absolute;
}

QString FolderChooser::SelectedPath() const
{
    const QModelIndex current = m_tree->currentIndex();
    return current.isValid() && m_tree->selectionModel()->isSelected(current) ? m_model->filePath(current)
                                                                             : QString();
}

void FolderChooser::accept()
{
    if (SelectedPath().isEmpty())
        return;
    QDialog::accept();
}

void FolderChooser::OfferNewFolder()
{
    QPushButton* button = m_buttons->addButton(QStringLiteral("&New Folder"), QDialogButtonBox::ActionRole);
    button->setObjectName(QStringLiteral("newFolder"));
    // Not the default button: Enter still means OK.
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, &FolderChooser::MakeNewFolder);
}

void FolderChooser::MakeNewFolder()
{
    const QString parent = SelectedPath();
    if (parent.isEmpty())
        return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("New Folder"),
                                               QStringLiteral("Name of the new folder in %1:").arg(parent),
                                               QLineEdit::Normal, QStringLiteral("New Folder"), &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    const QString path = QDir(parent).filePath(name);
    if (name.contains(QLatin1Char('/')) || !QDir(parent).mkdir(name)) {
        QMessageBox::warning(this, QStringLiteral("New Folder"),
                             QStringLiteral("Cannot create the folder %1.").arg(path));
        return;
    }
    SetSelection(path);
}

void FolderChooser::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Sent from the first show: the dialog is complete, and no input reaches
    // it before this returns.
    if (!m_initialized) {
        m_initialized = true;
        if (m_callback)
            m_callback(this, kInitialized, QString());
    }
}

void FolderChooser::OnCurrentChanged(const QModelIndex& current)
{
    // A highlight that leaves the pending folder ends the re-scrolling: the
    // user has moved on.
    if (!m_pendingScroll.isEmpty() && m_model->filePath(current) != m_pendingScroll)
        m_pendingScroll.clear();
    if (m_callback)
        m_callback(this, kSelectionChanged, current.isValid() ? m_model->filePath(current) : QString());
}

void FolderChooser::OnDirectoryLoaded(const QString& folder)
{
    if (m_pendingScroll.isEmpty())
        return;
    const QString parent = QFileInfo(m_pendingScroll).path();
    const bool onTheWay = folder == QStringLiteral("/")
        || (parent + QLatin1Char('/')).startsWith(folder + QLatin1Char('/'));
    if (!onTheWay)
        return;
    m_tree->scrollTo(m_tree->currentIndex(), QAbstractItemView::PositionAtCenter);
    // The model sorts the rows it has just read after this signal, which
    // moves the highlighted row again: scroll once more when it has.
    QTimer::singleShot(0, this, [this] {
        m_tree->scrollTo(m_tree->currentIndex(), QAbstractItemView::PositionAtCenter);
    });
    if (folder == parent)
        m_pendingScroll.clear();
}

} // namespace pixquill
