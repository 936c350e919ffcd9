// The completion dialog: Finish (OK, the default) ends the
// program; Continue (Cancel, also Escape and the close box) polls again.
#pragma once

#include <QDialog>

namespace loader {

class FinishDialog : public QDialog {
  public:
    explicit FinishDialog(const QIcon& icon, QWidget* parent = nullptr);
};

} // namespace loader
