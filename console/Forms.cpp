/* Creation and release of the console's windows. */
#include "Forms.h"

#include <QDir>

#include "AddUser.h"
#include "BillFrm.h"
#include "ChangePwd.h"
#include "ChangePwd2.h"
#include "Confirm.h"
#include "DepositDlg.h"
#include "DisplayLocale.h"
#include "Login.h"
#include "MainFrm.h"
#include "RateFrm.h"
#include "ReceiptDlg.h"
#include "Report.h"
#include "ShopDlg.h"
#include "StationState.h"
#include "Switch.h"
#include "UserMgr.h"

ConsoleForms Forms = {};

void CreateForms()
{
  UseChineseDisplay();
  Forms.Station = new StationState(QDir::currentPath());
  Forms.MainForm = new TMainForm(Forms.Station);
  QWidget *owner = Forms.MainForm;
  Forms.BillForm = new TBillForm(owner);
  Forms.RateForm = new TRateForm(owner);
  Forms.LoginDlg = new TLoginDlg(owner);
  Forms.UserMgrFrm = new TUserMgrFrm(owner);
  Forms.PasswordDlg = new TPasswordDlg(owner);
  Forms.ChangePwdDlg = new TChangePwdDlg(owner);
  Forms.SwitchDlg = new TSwitchDlg(owner);
  Forms.ReportFrm = new TReportFrm(*Forms.Station, owner);
  Forms.ConfirmDlg = new TConfirmDlg(owner);
  Forms.AddUserDlg = new TAddUserDlg(owner);
  Forms.ShopDlg = new TShopDlg(owner);
  Forms.ReceiptDlg = new TReceiptDlg(owner);
  Forms.DepositDlg = new TDepositDlg(owner);
}

void ReleaseForms()
{
  delete Forms.MainForm;  // the others are its children
  delete Forms.Station;
  Forms = {};
}
