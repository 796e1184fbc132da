#include "ui/FileDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QTreeView>

namespace kadmel {
namespace {

class GermanDates : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files && index.column() == DateColumn && role == Qt::DisplayRole)
            return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        return QIdentityProxyModel::data(index, role);
    }

private:
    static constexpr int DateColumn = 3; // name, size, type, date
};

} // namespace

void useGermanFileDialog(QFileDialog& dialog)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLocale(QLocale());
    dialog.setProxyModel(new GermanDates(&dialog));
    // The German titles and dates are longer than the columns Qt gives them; the name takes the rest.
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}

void useFolderPicker(QFileDialog& dialog)
{
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    useGermanFileDialog(dialog);
    for (const char* name : {"fileTypeLabel", "fileTypeCombo"}) {
        if (auto* widget = dialog.findChild<QWidget*>(QLatin1String(name)))
            widget->hide();
    }
}

} // namespace kadmel
