/* The main window: the line monitor with its checkout strip, the menus that
 * open every other window, and the state the whole console shares (the
 * operator on duty, the shift's takings, the station's working directory).
 * Its first showing logs an operator in and starts the engine; closing it
 * ends the program after a confirmation. */
#ifndef CONSOLE_MAINFRM_H
#define CONSOLE_MAINFRM_H

#include <QMainWindow>
#include <QString>

class QAction;
class QCloseEvent;
class QFrame;
class QLabel;
class QMenu;
class QShowEvent;
class QStatusBar;
class QTimer;
class QTreeWidget;

#define PROGRAM_TITLE "IP电话计费程序 v2.14 - "   /* followed by the operator's name */
#define LINE_COLUMNS 6
#define BILL_STRIP_WIDTH 81

class TMainForm : public QMainWindow {
  Q_OBJECT

public:
  explicit TMainForm(QWidget *parent = nullptr);

  const QString &OperatorName() const { return m_operator; }
  float ShiftTotal() const { return m_shiftTotal; }
  void SetShiftTotal(float total) { m_shiftTotal = total; }
  const QString &WorkDir() const { return m_workDir; }
  /* A file of the station: the working directory, "/", the name. */
  QString StationFile(const char *name) const;

  /* The password check against the station's password file; a message box
   * for a wrong password appears over parent. */
  bool CheckPassword(const QString &name, const QString &password, QWidget *parent);
  /* Continues the shift when "lastlog" names the operator on duty: true, and
   * the shift total is the stored one. */
  bool ReadLastLog();
  /* Stores the operator on duty and the shift total in "lastlog". */
  void WriteLastLog();

  QMenu *File1;                   /* "文件" */
  QAction *N5;                    /* "修改密码...": own password */
  QAction *UserMgr;               /* "用户管理...": administrator only */
  QAction *N6;                    /* "换班...": shift change */
  QAction *Exit1;                 /* "退出" */
  QMenu *N1;                      /* "费率" */
  QAction *SetRate;               /* "费率设置...": administrator only */
  QMenu *N7;                      /* "统计" */
  QAction *N8;                    /* "统计报表..." */
  QTreeWidget *LineList;          /* one row per gateway line */
  QFrame *Panel1;                 /* the strip of checkout buttons left of the rows */
  QLabel *Panel2;                 /* its heading "结帐" */
  QStatusBar *StatusBar1;
  QTimer *Timer1;                 /* polls the lines once a second after login */

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void FormShow();
  void FormCloseQuery(QCloseEvent *event);
  void Exit1Click();
  void N5Click();
  void N6Click();
  void UserMgrClick();
  void SetRateClick();
  void N8Click();
  void Timer1Timer();

  /* The operator goes on duty: the administrator's menus and the title follow. */
  void TakeOperator(const QString &name);

  QString m_workDir;              /* taken once, when the window is made */
  QString m_operator;             /* on duty; empty until the first login */
  float m_shiftTotal = 0;         /* money settled in this shift */
  bool m_started = false;         /* the first showing has run the login */
};

/* True once quenta_init has been called: the engine's thread may be running,
 * and the program must not be torn down under it. */
bool EngineCalled();

#endif
