/* The shift change dialog. Each showing starts with empty fields, the cursor
 * in the name; the title stays as the main window set it. */
#include "Switch.h"

#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>

#include "FieldDialog.h"

TSwitchDlg::TSwitchDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("SwitchDlg"));
  setWindowTitle(QStringLiteral("交班"));

  Title = new QLabel(this);
  Title->setObjectName(QStringLiteral("Title"));
  QFont big = Title->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  Title->setFont(big);
  Username = NameField(this, "Username");
  Password = PasswordField(this, "Password");
  OKBtn = DialogButton(this, QStringLiteral("确定"), "OKBtn", true);
  Button1 = DialogButton(this, QStringLiteral("取消"), "Button1");
  LayOutFieldDialog(this, {{QStringLiteral("操作员"), Username}, {QStringLiteral("密  码"), Password}},
                    OKBtn, Button1, Title);
}

void TSwitchDlg::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TSwitchDlg::FormShow()
{
  Username->clear();
  Password->clear();
  Username->setFocus();
}
