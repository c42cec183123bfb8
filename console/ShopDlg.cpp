/* The shop settings dialog: four texts and a check box. */
#include "ShopDlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kShopTextMax = 60; /* characters: a receipt line or two */

QLineEdit *TextField(QWidget *parent, const char *name, const QString &hint)
{
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setMaxLength(kShopTextMax);
  edit->setPlaceholderText(hint);
  edit->setMinimumWidth(300);
  return edit;
}

}  // namespace

TShopDlg::TShopDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("ShopDlg"));
  setWindowTitle(QStringLiteral("店铺设置"));

  ShopName = TextField(this, "ShopName", QStringLiteral("印在小票最上面"));
  Address = TextField(this, "Address", QString());
  Phone = TextField(this, "Phone", QString());
  Footer = TextField(this, "Footer", QStringLiteral("例如：谢谢惠顾，欢迎再来"));
  DenyAfterCheckout = new QCheckBox(QStringLiteral("结帐后禁止呼叫"), this);
  DenyAfterCheckout->setObjectName(QStringLiteral("DenyAfterCheckout"));
  auto *denyHint =
      new QLabel(QStringLiteral("结帐确认后线路即被禁止呼叫，下一位顾客来时在线路的右键菜单中允许呼叫。"), this);
  denyHint->setWordWrap(true);
  OKBtn = new QPushButton(QStringLiteral("确定"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("取消"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto *fields = new QFormLayout;
  fields->addRow(QStringLiteral("店名"), ShopName);
  fields->addRow(QStringLiteral("地址"), Address);
  fields->addRow(QStringLiteral("电话"), Phone);
  fields->addRow(QStringLiteral("小票结尾"), Footer);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addWidget(DenyAfterCheckout);
  layout->addWidget(denyHint);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TShopDlg::SetInfo(const ShopInfo &info)
{
  ShopName->setText(info.name);
  Address->setText(info.address);
  Phone->setText(info.phone);
  Footer->setText(info.footer);
  DenyAfterCheckout->setChecked(info.denyAfterCheckout);
}

ShopInfo TShopDlg::Info(ShopInfo info) const
{
  info.name = ShopName->text();
  info.address = Address->text();
  info.phone = Phone->text();
  info.footer = Footer->text();
  info.denyAfterCheckout = DenyAfterCheckout->isChecked();
  return info;
}
