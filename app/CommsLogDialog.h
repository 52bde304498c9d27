#pragma once
// The communications log's period as the operator picks it: this operational period (since the
// desk started), today (UTC), or from one time to another; and whether it goes to paper too.

#include <QDialog>

#include "base/Timing.h"

class QCheckBox;
class QDateTimeEdit;
class QRadioButton;

namespace qm {

struct TCommsLogChoice {
  TDateTime FromUtc = 0, ToUtc = 0;
  bool Print = false;
};

class TCommsLogDialog : public QDialog {
  Q_OBJECT

 public:
  TCommsLogDialog(TDateTime nowUtc, TDateTime startedUtc, QWidget* parent = nullptr);
  // The period chosen; an empty "from–to" one (to not after from) is refused with its reason.
  TCommsLogChoice Choice() const;

  QRadioButton* rbOperational = nullptr;
  QRadioButton* rbToday = nullptr;
  QRadioButton* rbFromTo = nullptr;
  QDateTimeEdit* dtFrom = nullptr;
  QDateTimeEdit* dtTo = nullptr;
  QCheckBox* cbPrint = nullptr;

 private:
  TDateTime FNowUtc, FStartedUtc;
};

}  // namespace qm
