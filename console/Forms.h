/* The console's fourteen windows. All are created at start, in this order,
 * and live until the program ends; every window reaches the others through
 * here. What they share of the station is in Station, made first. The main window is the parent of the others, so they stay above it
 * and go with it. */
#ifndef CONSOLE_FORMS_H
#define CONSOLE_FORMS_H

class TMainForm;
class TBillForm;
class TRateForm;
class TLoginDlg;
class TUserMgrFrm;
class TPasswordDlg;
class TChangePwdDlg;
class TSwitchDlg;
class TReportFrm;
class TConfirmDlg;
class TAddUserDlg;
class TShopDlg;
class TReceiptDlg;
class TDepositDlg;

class StationState;

struct ConsoleForms {
  StationState *Station;       /* the working directory and the operator on duty */
  TMainForm *MainForm;         /* line monitor and menus */
  TBillForm *BillForm;         /* checkout */
  TRateForm *RateForm;         /* rate editor */
  TLoginDlg *LoginDlg;         /* operator login */
  TUserMgrFrm *UserMgrFrm;     /* operator management */
  TPasswordDlg *PasswordDlg;   /* new password for a listed operator */
  TChangePwdDlg *ChangePwdDlg; /* the operator's own password */
  TSwitchDlg *SwitchDlg;       /* shift change */
  TReportFrm *ReportFrm;       /* statistics */
  TConfirmDlg *ConfirmDlg;     /* quit confirmation */
  TAddUserDlg *AddUserDlg;     /* new operator */
  TShopDlg *ShopDlg;           /* the shop's settings */
  TReceiptDlg *ReceiptDlg;     /* the reprint of the last receipt */
  TDepositDlg *DepositDlg;     /* a line's deposit taken or handed back */
};

extern ConsoleForms Forms;

/* Creates the windows (none shown), in Chinese whatever the machine's locale;
 * the process's current directory is the station's working directory. */
void CreateForms();

/* Destroys them all; Forms is empty afterwards. */
void ReleaseForms();

#endif
