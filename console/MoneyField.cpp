/* The money field's key filter. */
#include "MoneyField.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QValidator>

#include "BillText.h"

namespace {

/* Refuses the typed characters MoneyKeyAllowed refuses. */
class MoneyKeys : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override
  {
    if (event->type() != QEvent::KeyPress)
      return false;
    auto *edit = static_cast<QLineEdit *>(watched);
    const QString typed = static_cast<QKeyEvent *>(event)->text();
    // Keys without a character (arrows, Enter, Delete, the editing shortcuts)
    // are the field's own business; only typed characters are filtered.
    if (typed.size() != 1 || (typed[0] != QLatin1Char('\b') && !typed[0].isPrint()))
      return false;
    QString rest = edit->text();
    if (edit->hasSelectedText())
      rest.remove(edit->selectionStart(), edit->selectedText().size());
    return !MoneyKeyAllowed(rest, typed[0]);
  }
};

/* Refuses any text with more figures than an amount has, typed or pasted. */
class MoneyDigits : public QValidator {
public:
  using QValidator::QValidator;

  State validate(QString &input, int &) const override { return MoneyTextAllowed(input) ? Acceptable : Invalid; }
};

}  // namespace

QLineEdit *MoneyField(QWidget *parent, const char *objectName)
{
  auto *edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->installEventFilter(new MoneyKeys(edit));
  edit->setValidator(new MoneyDigits(edit));
  return edit;
}
