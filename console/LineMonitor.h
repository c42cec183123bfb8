/* The line monitor: the list of gateway lines (one row per line of the
 * LineTable model), the strip of checkout buttons beside the rows with its
 * heading "结帐", the list's pop-up menu, the digit keys that start a
 * checkout, and the in-place editor of a row's name. It changes nothing
 * itself: what the operator asks of a row goes out as a signal, and the main
 * window answers it. */
#ifndef CONSOLE_LINEMONITOR_H
#define CONSOLE_LINEMONITOR_H

#include <QList>
#include <QString>
#include <QStyledItemDelegate>
#include <QWidget>

#include "LineTable.h"

class QAction;
class QFrame;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QTreeView;

/* The widths of the list's columns by logical index: each holds its heading
 * and the longest text it shows in everyday use ("2026-12-10 14:03:05（恢复）",
 * "500.00元，押金用完，超出12.30元") in the list's font, so that at the
 * default font the columns fit a screen 1366 pixels wide beside the strip. */
QList<int> LineColumnWidths(const QTreeView *list);

#define LINE_ROW_HEIGHT 22 /* a checkout button of 20 pixels fits beside a row */
#define BILL_BUTTON_HEIGHT 20
#define BILL_STRIP_WIDTH 81

/* Draws the rows, with their state's tint beneath the list's grid lines (a
 * selected row keeps its tint and its text colour, under a wash and a frame
 * of the selection colour), and
 * edits a row's name in place (column 0 only). It never writes the model
 * itself: an accepted text goes to the main window, which may refuse it. */
class LineNameDelegate : public QStyledItemDelegate {
  Q_OBJECT

public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
  void destroyEditor(QWidget *editor, const QModelIndex &index) const override;
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

signals:
  void editingStarted();
  void nameAccepted(int row, const QString &name);
  void editingEnded(); /* accepted or cancelled */
};

class TLineMonitor : public QWidget {
  Q_OBJECT

public:
  explicit TLineMonitor(LineTable *lines, QWidget *parent = nullptr);

  QTreeView *List() const { return m_list; }
  /* The checkout button beside the row; null past the last row. Button n
   * serves row n, whichever line is there. */
  QPushButton *BillButton(int row) const;
  /* The selected row, or -1. */
  int SelectedLine() const;
  void SelectLine(int row);
  /* Opens the editor of the selected row's name. */
  void EditName();
  /* True while a row's name is being edited in place. */
  bool EditingName() const { return m_editing; }
  /* The columns as wide as LineColumnWidths says. */
  void FitColumns();

signals:
  /* The operator's requests for a row: the button, a digit key, "结帐". */
  void checkoutRequested(int row);
  void renameRequested(int row, const QString &name);
  /* "上移" and "下移": the row and its neighbour change places. */
  void swapRequested(int row, int other);
  void denyRequested(int row);
  void permitRequested(int row);
  void depositRequested(int row);
  void refundRequested(int row);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void RowsInserted(int first, int last);
  void RowsRemoved();
  void RowsChanged(int first, int last);
  /* The row's button: red "结帐" when its line waits for a checkout, the row number when not. */
  void ShowBillButton(int row);
  /* The buttons level with their rows as the list shows them now. */
  void PlaceBillButtons();
  void MenuAboutToShow();
  void Move(int by);
  /* True when the key started a checkout. */
  bool KeyPress(QKeyEvent *event);

  LineTable *m_lines;
  QTreeView *m_list;
  QFrame *m_strip;                /* the strip of checkout buttons left of the rows */
  QLabel *m_heading;              /* its heading "结帐" */
  QWidget *m_billButtons;         /* the part of the strip below its heading */
  QList<QPushButton *> m_buttons; /* by row */
  QMenu *m_menu;
  QAction *m_bill, *m_up, *m_down, *m_rename, *m_deny, *m_permit, *m_deposit, *m_refund;
  bool m_editing = false; /* a name is being edited in place */
};

#endif
