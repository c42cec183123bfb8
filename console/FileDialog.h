/* The console's file dialogs: Qt's own dialog (the same on every desktop),
 * in Chinese throughout. Qt's translations give the captions and buttons;
 * the file list's type, size and date columns Qt writes in the system's
 * locale and in texts the translations lack ("Folder", "10 Dec 2026"), so the
 * dialog shows them through a model that writes them the Chinese way. */
#ifndef CONSOLE_FILEDIALOG_H
#define CONSOLE_FILEDIALOG_H

#include <QFileDialog>
#include <QIdentityProxyModel>

/* The file list's columns (name, size, type, date modified) as the operator
 * reads them: "文件夹", "CSV 文件", "1.2 KB", "2026-12-10 14:03". */
class ChineseFileModel : public QIdentityProxyModel {
  Q_OBJECT

public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex &index, int role) const override;
};

/* Makes the dialog Qt's own, with the Chinese file list. */
void UseChineseFileDialog(QFileDialog *dialog);

/* A dialog that saves one kind of file ("文本文件 (*.txt)", suffix "txt"),
 * named name, without asking before a file is replaced. */
QFileDialog *NewSaveDialog(const char *name, const QString &title, const QString &filter, const QString &suffix,
                           QWidget *parent);

#endif
