/* What the small dialogs that ask for a name and passwords share: their named
 * fields, the button pair that ends them, and one layout of captioned fields
 * above the buttons. */
#ifndef CONSOLE_FIELDDIALOG_H
#define CONSOLE_FIELDDIALOG_H

#include <QList>
#include <QString>

class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

#define OPERATOR_NAME_MAX 127 /* characters of an operator name */

/* Makes a password edit show "*" for every typed character. */
void ShowAsStars(QLineEdit *edit);

/* An operator name field, at most OPERATOR_NAME_MAX characters. */
QLineEdit *NameField(QWidget *parent, const char *objectName);

/* A password field, shown as stars. */
QLineEdit *PasswordField(QWidget *parent, const char *objectName);

/* A button; the default one is what Enter presses. */
QPushButton *DialogButton(QWidget *parent, const QString &text, const char *objectName, bool isDefault = false);

struct CaptionedField {
  QString caption;
  QLineEdit *edit;
};

/* Lays out the dialog: the heading if any, the fields in rows with their
 * captions on the left, then ok and cancel on the right. The dialog keeps its
 * size; ok accepts it and cancel rejects it. */
void LayOutFieldDialog(QDialog *dialog, const QList<CaptionedField> &fields, QPushButton *ok, QPushButton *cancel,
                       QWidget *heading = nullptr);

#endif
