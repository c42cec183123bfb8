/* The import preview dialog: the counts of a deck's plan and what becomes of
 * each of its lines, in line order. */
#include "RateImport.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "FieldDialog.h"

#include <algorithm>

namespace {

QTreeWidgetItem *NoteRow(int line, const QString &text)
{
  auto *row = new QTreeWidgetItem;
  row->setText(0, QString::number(line));
  row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  row->setText(1, text);
  return row;
}

}  // namespace

TRateImportDlg::TRateImportDlg(QWidget *parent) : QDialog(parent)
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
  Note = new QLabel(QStringLiteral("每分钟价格按计费间隔折算：每个计费间隔的价格 = 每分钟价格 × 计费间隔 ÷ 60"
                                   "（没有填计费间隔的为60秒），只记到分。导入的费率只有时段1（从0:00:00起），"
                                   "没有3+1时长，也没有免收费时长；区号与已有费率相同的，替换已有的那一条；"
                                   "名为“默认费率”、区号为空的一行替换默认费率。"),
                    this);
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

void TRateImportDlg::ShowPlan(const QString &fileName, const DeckPlan &plan, const QList<RateInfo> &rules)
{
  Title->setText(QStringLiteral("%1（%2）").arg(QFileInfo(fileName).fileName(), plan.encoding));
  Summary->setText(QStringLiteral("新增费率：%1条\n替换区号相同的费率：%2条\n未导入的行：%3行\n价格取整的行：%4行")
                       .arg(plan.added.size())
                       .arg(plan.replacements.size())
                       .arg(plan.refused.size())
                       .arg(plan.rounded.size()));

  // A line's rule comes before its rounding note: a stable sort by line
  // keeps that order.
  QList<DeckNote> notes;
  notes.reserve(plan.added.size() + plan.replacements.size() + plan.refused.size() + plan.rounded.size() + 1);
  if (plan.headerLine > 0)
    notes.append({plan.headerLine, QStringLiteral("表头，已略过")});
  for (qsizetype i = 0; i < plan.added.size(); i++)
    notes.append({plan.addedLines[i], DeckAddedText(plan.added[i])});
  for (qsizetype i = 0; i < plan.replacements.size(); i++)
    notes.append({plan.replacementLines[i], DeckReplacedText(rules[plan.replacedRows[i]], plan.replacements[i])});
  for (const DeckNote &n : plan.refused)
    notes.append({n.line, QStringLiteral("未导入：") + n.text});
  for (const DeckNote &n : plan.rounded)
    notes.append({n.line, QStringLiteral("已导入，") + n.text});
  std::stable_sort(notes.begin(), notes.end(), [](const DeckNote &a, const DeckNote &b) { return a.line < b.line; });
  QList<QTreeWidgetItem *> rows;
  rows.reserve(notes.size());
  for (const DeckNote &n : notes)
    rows.append(NoteRow(n.line, n.text));
  LineList->clear();
  LineList->addTopLevelItems(rows);
  OKBtn->setEnabled(!plan.added.isEmpty() || !plan.replacements.isEmpty());
}
