/* The shift change dialog. Each showing starts with empty fields, the cursor
 * in the counted cash; the texts above stay as the main window set them. */
#include "Switch.h"

#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include "FieldDialog.h"
#include "MoneyField.h"

TSwitchDlg::TSwitchDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("SwitchDlg"));
  setWindowTitle(QStringLiteral("交班"));

  Title = new QLabel(this);
  Title->setObjectName(QStringLiteral("Title"));
  QFont big = Title->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  Title->setFont(big);
  Drawer = new QLabel(this);
  Drawer->setObjectName(QStringLiteral("Drawer"));
  Drawer->setWordWrap(true);
  auto *heading = new QWidget(this);
  auto *headingLayout = new QVBoxLayout(heading);
  headingLayout->setContentsMargins(0, 0, 0, 0);
  headingLayout->addWidget(Title);
  headingLayout->addWidget(Drawer);
  Counted = MoneyField(this, "Counted");
  Username = NameField(this, "Username");
  Password = PasswordField(this, "Password");
  OKBtn = DialogButton(this, QStringLiteral("确定"), "OKBtn", true);
  Button1 = DialogButton(this, QStringLiteral("取消"), "Button1");
  LayOutFieldDialog(this,
                    {{QStringLiteral("操作员"), Username},
                     {QStringLiteral("密  码"), Password},
                     {QStringLiteral("实点现金"), Counted}},
                    OKBtn, Button1, heading);
}

void TSwitchDlg::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TSwitchDlg::FormShow()
{
  Counted->clear();
  Username->clear();
  Password->clear();
  Username->setFocus();
}
