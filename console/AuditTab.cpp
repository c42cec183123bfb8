/* The report's list of the audit trail and its two filters. */
#include "AuditTab.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Audit.h"
#include "Gbk.h"
#include "Passwd.h"
#include "Users.h"

namespace {

const int kAuditWidths[AUDIT_COLUMNS] = {150, 90, 90, 400};

QString AllText()
{
  return QStringLiteral("全部");
}

/* "全部" stands for no filter. */
QString FilterOf(const QComboBox *box)
{
  const QString text = box->currentText().trimmed();
  return text == AllText() ? QString() : text;
}

}  // namespace

TAuditTab::TAuditTab(QWidget *parent) : QWidget(parent)
{
  setObjectName(QStringLiteral("AuditPage"));
  AuditOperator = new QComboBox(this);
  AuditOperator->setObjectName(QStringLiteral("AuditOperator"));
  // A failed login names whatever was typed: any name may be looked for.
  AuditOperator->setEditable(true);
  AuditOperator->setInsertPolicy(QComboBox::NoInsert);
  AuditOperator->setMinimumContentsLength(10);
  AuditAction = new QComboBox(this);
  AuditAction->setObjectName(QStringLiteral("AuditAction"));
  AuditAction->addItem(AllText());
  AuditAction->addItems(AuditActions());

  AuditTable = new QTreeWidget(this);
  AuditTable->setObjectName(QStringLiteral("AuditTable"));
  AuditTable->setColumnCount(AUDIT_COLUMNS);
  AuditTable->setHeaderLabels(
      {QStringLiteral("时间"), QStringLiteral("操作员"), QStringLiteral("操作"), QStringLiteral("详情")});
  AuditTable->setRootIsDecorated(false);
  AuditTable->setUniformRowHeights(true);
  AuditTable->setAllColumnsShowFocus(true);
  AuditTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  AuditTable->setStyleSheet(QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                                           " border-bottom: 1px solid palette(midlight); }"));
  for (int c = 0; c < AUDIT_COLUMNS; c++)
    AuditTable->setColumnWidth(c, kAuditWidths[c]);
  AuditInfo = new QLabel(this);
  AuditInfo->setObjectName(QStringLiteral("AuditInfo"));

  auto *filters = new QHBoxLayout;
  filters->addWidget(new QLabel(QStringLiteral("操作员"), this));
  filters->addWidget(AuditOperator);
  filters->addSpacing(12);
  filters->addWidget(new QLabel(QStringLiteral("操作"), this));
  filters->addWidget(AuditAction);
  filters->addStretch();
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(AuditTable, 1);
  layout->addWidget(AuditInfo);

  connect(AuditOperator, &QComboBox::currentIndexChanged, this, &TAuditTab::FilterChange);
  connect(AuditOperator->lineEdit(), &QLineEdit::editingFinished, this, &TAuditTab::FilterChange);
  connect(AuditAction, &QComboBox::currentIndexChanged, this, &TAuditTab::FilterChange);
}

void TAuditTab::SetRange(const QByteArray &from, const QByteArray &to)
{
  m_from = from;
  m_to = to;
  m_ranged = true;
  m_listed = false;
  AuditTable->clear();
  AuditInfo->clear();
  // The station's operators to choose from, the one typed kept.
  const QString typed = AuditOperator->currentText();
  const QSignalBlocker quiet(AuditOperator);
  AuditOperator->clear();
  AuditOperator->addItem(AllText());
  for (const PasswdEntry &user : LoadUsers(QStringLiteral(PASSWD_FILE)))
    AuditOperator->addItem(FromGbk(user.name));
  AuditOperator->setCurrentText(typed.isEmpty() ? AllText() : typed);
}

void TAuditTab::ListIfStale()
{
  if (m_ranged && !m_listed)
    ListEntries();
}

void TAuditTab::FilterChange()
{
  if (m_ranged)
    ListEntries();
}

void TAuditTab::ListEntries()
{
  m_listed = true;
  AuditTable->clear();
  QList<AuditRow> rows;
  const bool ok = QueryAudit(m_from, m_to, FilterOf(AuditOperator), FilterOf(AuditAction), &rows);
  QList<QTreeWidgetItem *> items;
  items.reserve(rows.size());
  for (const AuditRow &r : rows) {
    auto *item = new QTreeWidgetItem({QString::fromLatin1(r.date), r.admin, r.action, r.detail});
    item->setToolTip(3, r.detail);
    items.append(item);
  }
  AuditTable->addTopLevelItems(items);
  QString text = QStringLiteral("共 %1 条操作记录").arg(rows.size());
  if (!ok)
    text += QStringLiteral("　（操作记录查询失败）");
  AuditInfo->setText(text);
}

QList<QStringList> TAuditTab::CsvRows() const
{
  QList<QStringList> rows;
  const QTreeWidgetItem *heading = AuditTable->headerItem();
  QStringList texts;
  for (int c = 0; c < AUDIT_COLUMNS; c++)
    texts.append(heading->text(c));
  rows.append(texts);
  for (int i = 0; i < AuditTable->topLevelItemCount(); i++) {
    texts.clear();
    for (int c = 0; c < AUDIT_COLUMNS; c++)
      texts.append(AuditTable->topLevelItem(i)->text(c));
    rows.append(texts);
  }
  return rows;
}
