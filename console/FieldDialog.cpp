/* The pieces and the layout shared by the login, shift change, add-operator
 * and password dialogs. */
#include "FieldDialog.h"

#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

void ShowAsStars(QLineEdit *edit)
{
  edit->setEchoMode(QLineEdit::Password);
  edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
}

QLineEdit *NameField(QWidget *parent, const char *objectName)
{
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setMaxLength(OPERATOR_NAME_MAX);
  return edit;
}

QLineEdit *PasswordField(QWidget *parent, const char *objectName)
{
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  ShowAsStars(edit);
  return edit;
}

QPushButton *DialogButton(QWidget *parent, const QString &text, const char *objectName, bool isDefault)
{
  auto *button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setDefault(isDefault);
  return button;
}

void LayOutFieldDialog(QDialog *dialog, const QList<CaptionedField> &fields, QPushButton *ok, QPushButton *cancel,
                       QWidget *heading)
{
  auto *grid = new QGridLayout;
  for (int row = 0; row < fields.size(); row++) {
    grid->addWidget(new QLabel(fields[row].caption, dialog), row, 0);
    grid->addWidget(fields[row].edit, row, 1);
  }
  grid->setColumnMinimumWidth(1, 180);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto *layout = new QVBoxLayout(dialog);
  if (heading) {
    layout->addWidget(heading);
    layout->addSpacing(8);
  }
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}
