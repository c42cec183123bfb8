/* The import preview dialog: the counts of a deck's plan and its noted lines
 * in line order. */
#include "RateImport.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "FieldDialog.h"

namespace {

QTreeWidgetItem *NoteRow(int line, const QString &text)
{
  auto *row = new QTreeWidgetItem;
  row->setText(0, QString::number(line));
  row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  row->setText(1, text);
  return row;
}

} // namespace

TRateImportDlg::TRateImportDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("RateImportDlg"));
  setWindowTitle(QStringLiteral("导入费率"));
  resize(600, 460);

  Title = new QLabel(this);
  Title->setObjectName(QStringLiteral("Title"));
  QFont bold = Title->font();
  bold.setBold(true);
  Title->setFont(bold);
  Summary = new QLabel(this);
  Summary->setObjectName(QStringLiteral("Summary"));
  Note = new QLabel(QStringLiteral(
      "每分钟价格按计费间隔折算：每个计费间隔的价格 = 每分钟价格 × 计费间隔 ÷ 60"
      "（没有填计费间隔的为60秒），只记到分。导入的费率只有时段1（从0:00:00起），"
      "没有3+1时长，也没有免收费时长；区号与已有费率相同的，替换已有的那一条。"), this);
  Note->setObjectName(QStringLiteral("Note"));
  Note->setWordWrap(true);

  LineList = new QTreeWidget(this);
  LineList->setObjectName(QStringLiteral("LineList"));
  LineList->setColumnCount(2);
  LineList->setHeaderLabels({QStringLiteral("行号"), QStringLiteral("说明")});
  LineList->setRootIsDecorated(false);
  LineList->setUniformRowHeights(true);
  LineList->setAllColumnsShowFocus(true);
  LineList->setSelectionBehavior(QAbstractItemView::SelectRows);
  LineList->setColumnWidth(0, 60);
  LineList->header()->setStretchLastSection(true);

  OKBtn = DialogButton(this, QStringLiteral("导入"), "OKBtn", true);
  CancelBtn = DialogButton(this, QStringLiteral("取消"), "CancelBtn");
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(Title);
  layout->addWidget(Summary);
  layout->addWidget(Note);
  layout->addWidget(LineList, 1);
  layout->addLayout(buttons);
}

void TRateImportDlg::ShowPlan(const QString &fileName, const DeckPlan &plan)
{
  Title->setText(QStringLiteral("%1（%2）").arg(QFileInfo(fileName).fileName(), plan.encoding));
  Summary->setText(QStringLiteral("新增费率：%1条\n替换区号相同的费率：%2条\n未导入的行：%3行\n价格取整的行：%4行")
                       .arg(plan.added.size())
                       .arg(plan.replacements.size())
                       .arg(plan.refused.size())
                       .arg(plan.rounded.size()));

  // Both lists are in line order: merged, the rows are too.
  QList<QTreeWidgetItem *> rows;
  rows.reserve(plan.refused.size() + plan.rounded.size() + 1);
  if (plan.headerLine > 0)
    rows.append(NoteRow(plan.headerLine, QStringLiteral("表头，已略过")));
  qsizetype r = 0, k = 0;
  while (r < plan.refused.size() || k < plan.rounded.size()) {
    if (k == plan.rounded.size() || (r < plan.refused.size() && plan.refused[r].line < plan.rounded[k].line)) {
      rows.append(NoteRow(plan.refused[r].line, QStringLiteral("未导入：") + plan.refused[r].text));
      r++;
    } else {
      rows.append(NoteRow(plan.rounded[k].line, QStringLiteral("已导入，") + plan.rounded[k].text));
      k++;
    }
  }
  LineList->clear();
  LineList->addTopLevelItems(rows);
  OKBtn->setEnabled(!plan.added.isEmpty() || !plan.replacements.isEmpty());
}
