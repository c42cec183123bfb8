/* The console's file dialogs in Chinese. */
#include "FileDialog.h"

#include <QFileSystemModel>

#include "DisplayLocale.h"

QVariant ChineseFileModel::data(const QModelIndex &index, int role) const
{
  const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
  if (role != Qt::DisplayRole || !files || !index.isValid())
    return QIdentityProxyModel::data(index, role);
  const QModelIndex source = mapToSource(index);
  const QFileInfo info = files->fileInfo(source);
  const QLocale chinese = ChineseLocale();
  switch (index.column()) {
  case 1:
    return info.isDir() ? QString() : chinese.formattedDataSize(info.size(), 1, QLocale::DataSizeTraditionalFormat);
  case 2:
    if (info.isDir())
      return QStringLiteral("文件夹");
    return info.suffix().isEmpty() ? QStringLiteral("文件") : info.suffix().toUpper() + QStringLiteral(" 文件");
  case 3:
    return chinese.toString(info.lastModified(), QStringLiteral("yyyy-MM-dd HH:mm"));
  default:
    return QIdentityProxyModel::data(index, role);
  }
}

void UseChineseFileDialog(QFileDialog *dialog)
{
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setProxyModel(new ChineseFileModel(dialog));
}

QFileDialog *NewSaveDialog(const char *name, const QString &title, const QString &filter, const QString &suffix,
                           QWidget *parent)
{
  auto *dialog = new QFileDialog(parent, title);
  dialog->setObjectName(QLatin1String(name));
  UseChineseFileDialog(dialog);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilter(filter);
  dialog->setDefaultSuffix(suffix);
  // The operator is not asked before a file is replaced; the working
  // directory stays the station's whatever folder is chosen.
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  dialog->setSizeGripEnabled(true);
  return dialog;
}
