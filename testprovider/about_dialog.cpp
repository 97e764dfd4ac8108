#include "testprovider/about_dialog.h"

#include "testprovider/application_icon.h"
#include "testprovider/dialog_units.h"
#include "ui_about_dialog.h"

namespace rigbench {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
  ui_->setupUi(this);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  DialogUnits::forForm(*this).apply(*this);
  const int iconSide = std::min(ui_->labelIcon->width(), ui_->labelIcon->height());
  ui_->labelIcon->setPixmap(applicationIcon().pixmap(iconSide, iconSide));
}

AboutDialog::~AboutDialog() = default;

}  // namespace rigbench
